// A shared library that needs one host symbol, one runtime symbol and one
// symbol that nothing provides: the symbol check must name the last one and
// only it.
#include <stdio.h>
#include <string.h>

#include "hostFrame.h"
#include "hostUtil.h"

extern "C" int tracelibSymbolsProbeMissing(int);

extern "C" int tracelibSymbolsProbe(fcFrame* frame, char* out, size_t size)
{
    strlcpy(out, "probe", size);
    printf("%u\n", static_cast<unsigned>(frame->Get_R_CTL()));
    return tracelibSymbolsProbeMissing(3);
}
