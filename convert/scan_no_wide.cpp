// Processors without an instruction-set path for classifying bytes: the portable functions serve.
#include "convert/scan.h"

namespace ferryline {

bool GetAvx2Classifiers(Classifiers* /*classifiers*/)
{
    return false;
}

bool GetSse2Classifiers(Classifiers* /*classifiers*/)
{
    return false;
}

}  // namespace ferryline
