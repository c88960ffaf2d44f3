// IDs of the launcher's own resources. Preprocessor definitions only: the
// resource compiler reads this file too.
#pragma once

#define IDS_ANOTHER_INSTANCE 129  // refusal message text
#define IDS_PRODUCT_NAME 130      // refusal caption and product display name
#define IDS_DAMAGED_INSTALLER 131 // a signed installer that no longer matches its signature (%s: the log)
