// Processors without an instruction-set path for classifying bytes: the portable functions serve.
#include "convert/scan.h"

bool GetWideClassifiers(Classifiers* /*classifiers*/)
{
    return false;
}
