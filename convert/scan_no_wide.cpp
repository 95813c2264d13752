// Processors without an instruction-set path for classifying bytes: the portable function serves.
#include "convert/scan.h"

ClassifyFunction WideClassify()
{
    return nullptr;
}
