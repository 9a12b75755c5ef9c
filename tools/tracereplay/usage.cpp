#include "usage.h"

namespace replay {

namespace {

const char kUsage[] = R"(Usage: tracereplay [OPTION]... CAPTURE[@PORT]...

Plays tcpdump/Wireshark capture files (pcap or pcapng) through the trace
library and writes the saved trace file the library produces for them.
Frames of several files are played in timestamp order, as one device would
have seen them; the library reads each frame's capture time as the time of
day, so the same input always gives the same output.

Captures:
  CAPTURE[@PORT]        a capture file and the port its frames passed through:
                        a number (file.pcap@3) or a port pair (file.pcap@2.7);
                        by default the file's position, counted from 0.
                        Link types: Ethernet (1), FC-2 (224), FC-2 with frame
                        delimiters (225). FCoE frames (EtherType 0x8906, with
                        or without VLAN tags) are traced as FC frames.
  --local ADDRESS       a local MAC (0e:fc:00:01:0a:0b) or FC id (010200):
                        frames sent from a local address are traced as
                        transmitted (traceTx, with the file's port), all
                        others as received (traceRx). Repeat for several.

Buffers (default: one buffer, id 1, 65536 entries):
  --buffer id=N[,name=TEXT][,entries=N][,current]
                        a trace buffer; entries is a power of two. The first
                        buffer, or the one marked current, is the current one.

Filters (default: --fc --eth --els). Filters are added in the order given,
and the last one given is tried first; a frame goes to the first that matches.
  --fc                  preset: FC frames, FC header step
  --eth                 preset: Ethernet frames, MAC and data steps
  --els                 preset: ELS frames, FC header and ELS steps
  --filter buffer=N,match=KIND[,FIELD=HEX]...[,steps=STEP+STEP...]
                        buffer: buffer id, 0 (default) for the current one
                        match: any, fc, eth, els, fcp (TYPE 08), rjt (LS_RJT,
                               BA_RJT, F_RJT, P_RJT)
                        fields: rctl=22 did=fffffe sid=010200 type=08
                               ethertype=0800 reason=09 (with match=rjt)
                        steps: fchdr, els, ethmac, ethdata, pld:W[:W[:W]]
                               (FC payload words W); default by match

Output:
  -o, --output FILE     the saved trace file (default: standard output)
  --dump FILE           also write the library's debug dump
  --syslog              mirror every trace to the system log, one line each;
                        the lines are copied to standard error
  --wall-clock          traces carry the real time of the replay instead of
                        the capture times
  -q, --quiet           no progress line
  -h, --help            this text

Exit status: 0 when every frame was replayed and the output written;
1 when a file or frame was skipped or the output could not be written (what
was traced is still saved); 2 for a bad command line.

Examples:
  tracereplay samples/fc-host.pcap
  tracereplay -o login.trace --local 010200 host.pcapng@1 target.pcap@2
  tracereplay --buffer id=1,name=FC --buffer id=2,name=ELS --fc \
      --filter buffer=2,match=els,steps=fchdr+els fc-host.pcap
  tracereplay --eth --filter match=eth,ethertype=8906,steps=ethmac eth.pcap
  tracereplay --syslog -o /dev/null --dump debug.txt fc-host.pcap
)";

}  // namespace

void printUsage(std::FILE* stream)
{
    std::fputs(kUsage, stream);
}

}  // namespace replay
