// The launcher's static objects, in one translation unit so that their order
// of construction (and the reverse order of destruction) is fixed.
#include "launcher/unpackfile_app.h"

CUnPackFileApp theApp;
