// The launcher's static objects, in one translation unit so that their order
// of construction is fixed: the application object first, then the guard,
// whose mutex exists before the framework entry runs. Process exit destroys
// them in reverse: the guard's handle is closed before the application goes.
//
// Before any of them, the process start-up runs (start_up.cpp).
#include "launcher/app_objects.h"

CUnPackFileApp theApp(theInstanceGuard);
CInstanceGuard theInstanceGuard(L"Global\\{47B9233E-7E50-46F2-B442-6A53F0D0F508}");
