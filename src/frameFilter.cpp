// Frame filters: construction, steps and the text dump.
#include "frameFilter.h"

#include <string.h>

#include "traceAssert.h"

// The host matcher reads the rule as twenty 32-bit words.
static_assert(sizeof(RegisterFrameEntry) == 80, "a matching rule is 20 words");

TraceFrameFilter::TraceFrameFilter() : bufferId(0)
{
    memset(&rule, 0, sizeof rule);
}

// The step list's elements do not own their steps, so destroying the list
// leaves the steps alive.
TraceFrameFilter::~TraceFrameFilter() {}

void TraceFrameFilter::addStep(TraceStep* step)
{
    TRACE_ASSERT(step);
    stepList.add(new Element<TraceStep>(step, false));
}

namespace {
// A field group is printed only when its mask is set.
void dumpField(FILE* stream, const char* format, RegisterFieldMatch& field)
{
    if (field.mask != 0)
        fprintf(stream, format, field.mask, field.offset, field.value);
}
}

void TraceFrameFilter::dump(FILE* stream)
{
    fprintf(stream, "only rejects %s exact reject 0x%x sof_mask 0x%0x offset from %d\n",
            rule.only_rejects != 0 ? "true" : "false", rule.exact_reject, rule.sof_mask,
            static_cast<int>(rule.offset_from));
    dumpField(stream, "field_1: mask 0x%0x offset 0x%0x value 0x%0x\n", rule.field_1);
    dumpField(stream, "field_2: mask 0x%0x offset 0x%0x value 0x%0x\n", rule.field_2);
    dumpField(stream, "field_3: mask 0x%0x offset 0x%0x value 0x%0x\n", rule.field_3);
    if (rule.range.mask != 0)
        fprintf(stream, "range: mask 0x%0x, offset 0x%0x lo 0x%0x hi 0x%0x\n",
                rule.range.mask, rule.range.offset, rule.range.lo, rule.range.hi);
    fprintf(stream, "buffer %d, %d steps\n", bufferId, stepList.size());
    for (Element<TraceStep>* e = stepList.get_first(); e != nullptr; e = e->get_next())
        e->item()->describe(stream);
}
