// Processors without an instruction-set path for the stop finders: the portable ones serve.
#include "convert/scan.h"

bool GetWideStopFinders(StopFinders* /*finders*/)
{
    return false;
}
