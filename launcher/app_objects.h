// The launcher's static objects, defined in app_objects.cpp.
#pragma once

#include "launcher/instance_guard.h"
#include "launcher/unpackfile_app.h"

// The mutex that keeps a second installation from starting beside this one.
extern CInstanceGuard theInstanceGuard;
