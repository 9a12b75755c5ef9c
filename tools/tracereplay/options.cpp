#include "options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>

#include "hostsim.h"

namespace replay {

namespace {

const char kUsage[] = R"(Usage: tracereplay [OPTION]... CAPTURE[@PORT]...
       tracereplay [OPTION]... -r CAPTURE[@PORT]...

Plays tcpdump/Wireshark capture files (pcap or pcapng) through the trace
library and writes the saved trace file the library produces for them.
Frames of all files are played in timestamp order, as one device would
have seen them; the library reads each frame's capture time as the time of
day, so the same input always gives the same output.

Captures:
  CAPTURE[@PORT]        a capture file ('-': standard input) and the port its
  -r CAPTURE[@PORT]     frames passed through: a number (file.pcap@3) or a
                        port pair (file.pcap@2.7). By default ports are
                        numbered from 0 over the files in the order given.
                        A name that exists as a file is that file, '@' and
                        all. Any input that is not a regular file (a pipe,
                        a FIFO, <(zcat f.gz)) is read once, as a stream.
                        Interfaces: each interface of a pcapng file, in
                        every section, is a port of its own: interface k of
                        file@N is port N+k (of file@A.B, the pair A.B+k).
                        Without @, a file's ports follow those of the file
                        before; an interface a stream describes after its
                        first frame takes the first port after every file's.
                        The report lists which interface became which port.
                        Link types: Ethernet (1), FC-2 (224), FC-2 with frame
                        delimiters (225). FCoE frames (EtherType 0x8906, with
                        or without VLAN tags) are traced as FC frames.
                        Files may be compressed with gzip or zstd.
                        Linux cooked captures (113, 276) are traced as the
                        Ethernet frames they carry; an SLL2 frame's interface
                        index is added to its file's port.
  --local ADDRESS       a local MAC (0e:fc:00:01:0a:0b) or FC id (010200):
                        frames sent from a local address are traced as
                        transmitted (traceTx, with the frame's port), all
                        others as received (traceRx). Repeat for several.

Frame selection:
  -f EXPR               replay only the frames that match the tcpdump filter
                        expression EXPR (pcap-filter(7)), compiled by libpcap
                        for each file's link type
  -F FILE               the filter expression read from FILE
  -c COUNT              stop after COUNT frames (that match the filter)

Time order: each file is read through a reorder window of %zu frames, so
frames out of order within a file by fewer frames than that are played in
time order. A frame later than the window allows makes the replay start
over with that file sorted whole (lines mirrored with --syslog before that
point are repeated): in memory up to the sort memory, beyond it in sorted
runs written to $TMPDIR and merged. A stream (standard input, a pipe, a
FIFO, <(zcat f.pcap.gz)) cannot be read twice: with one among the inputs,
such frames are played after those held, and reported as played late.
  --sort-memory SIZE    memory for the frames of files sorted whole
                        (default 64M; K, M, G suffixes; at least 1M)

Buffers (default: one buffer, id 1, 65536 entries):
  --buffer id=N[,name=TEXT][,entries=N][,current]
                        a trace buffer; entries is a power of two. The first
                        buffer, or the one marked current, is the current one.
                        A buffer that wraps is reported with the entries=
                        that would have held every record.

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
  -o, -w, --output FILE the saved trace file ('-' or none: standard output);
                        checked before the replay starts, refused when it is
                        one of the captures; written whole under a temporary
                        name, then renamed
  --dump FILE           also write the library's debug dump
  --syslog              mirror every trace to the system log, one line each;
                        the lines are copied to standard error
  --syslog-nonblocking  as --syslog, through a socket that never waits for
                        the log daemon: lines it cannot take are dropped
  --wall-clock          traces carry the real time of the replay instead of
                        the capture times
  --local-time          trace times in the local time zone (TZ) instead of
                        UTC
  -q, --quiet           no progress line, no summary line at the end
  -h, --help            this text
  --version             the version of tracereplay and the trace library

Times in the trace are UTC (see --local-time). Problems are shown for the
first few frames of each kind (skipped, cut by the snap length, out of
order), then counted in one line per kind; a last line counts the frames.
Short options combine: -qr FILE, -c10.

Exit status:
  0  every frame was replayed and the output written
  1  the output was written, but a file or frame was skipped, a frame was
     played late, or a capture time did not fit the trace (from 2038 on)
  2  bad command line, or a filter expression that does not compile
  3  an output could not be written (a file, the dump, standard output,
     or its temporary file in $TMPDIR), or no capture file could be read

Examples:
  tracereplay samples/fc-host.pcap
  tracereplay -c 100 -f 'ether proto 0x8906' -r eth.pcap
  tracereplay -w login.trace --local 010200 host.pcapng@1 target.pcap@2
  tcpdump -i eth0 -w - | tracereplay -o eth0.trace -@4
  tracereplay --buffer id=1,name=FC --buffer id=2,name=ELS --fc \
      --filter buffer=2,match=els,steps=fchdr+els fc-host.pcap
  tracereplay --eth --filter match=eth,ethertype=8906,steps=ethmac eth.pcap
  tracereplay --syslog -o /dev/null --dump debug.txt fc-host.pcap
)";

}  // namespace

void printUsage(std::FILE* stream)
{
    std::fprintf(stream, kUsage, kReorderWindow);
}

namespace {

constexpr uint32_t kMaxPortNumber = 0xFFFE;  // 0xFFFF marks a port pair

// Short options; those that take a value, then flags.
constexpr char kShortOptions[] = "rowfFcqh";

// Walks the arguments; options take their value as "--opt VALUE" or
// "--opt=VALUE". Short options combine as getopt reads them: "-qr FILE" is
// "-q -r FILE", "-c10" is "-c 10".
class ArgumentCursor {
public:
    explicit ArgumentCursor(const std::vector<std::string>& args) : args_(args) {}

    bool next()
    {
        hasInlineValue_ = false;
        if (!cluster_.empty()) {
            name_ = std::string{'-', cluster_[0]};
            cluster_.erase(0, 1);
            return true;
        }
        if (index_ >= args_.size())
            return false;
        const std::string& arg = args_[index_++];
        size_t equals = arg.find('=');
        if (!onlyFiles_ && arg.size() > 2 && arg[0] == '-' && std::strchr(kShortOptions, arg[1])) {
            name_ = arg.substr(0, 2);
            cluster_ = arg.substr(2);
        } else if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name_ = arg.substr(0, equals);
            inlineValue_ = arg.substr(equals + 1);
            hasInlineValue_ = true;
        } else {
            name_ = arg;
            hasInlineValue_ = false;
        }
        return true;
    }

    const std::string& name() const { return name_; }

    // After "--" every argument is a name as it stands.
    void onlyFiles() { onlyFiles_ = true; }

    std::string value()
    {
        if (hasInlineValue_)
            return inlineValue_;
        if (!cluster_.empty())
            return std::exchange(cluster_, std::string());
        if (index_ >= args_.size())
            throw UsageError("option " + name_ + " needs a value");
        return args_[index_++];
    }

    void noValue() const
    {
        if (hasInlineValue_)
            throw UsageError("option " + name_ + " takes no value");
    }

private:
    const std::vector<std::string>& args_;
    size_t index_ = 0;
    std::string name_;
    std::string inlineValue_;
    bool hasInlineValue_ = false;
    std::string cluster_;  // the short options still to come in this argument
    bool onlyFiles_ = false;
};

FilterRequest preset(FilterKind kind)
{
    FilterRequest request;
    request.kind = kind;
    return request;
}

void checkBuffers(const Options& options)
{
    std::set<int> ids;
    for (const BufferRequest& buffer : options.buffers)
        if (!ids.insert(buffer.id).second)
            throw UsageError("buffer id " + std::to_string(buffer.id) + " is defined twice");
    for (const FilterRequest& filter : options.filters)
        if (filter.bufferId != 0 && ids.count(filter.bufferId) == 0)
            throw UsageError("a filter names buffer " + std::to_string(filter.bufferId) +
                             ", which no --buffer defines");
}

void applyDefaults(Options& options)
{
    if (options.buffers.empty())
        options.buffers.push_back(BufferRequest{});
    if (options.filters.empty())
        for (FilterKind kind : {FilterKind::FcPreset, FilterKind::EthPreset, FilterKind::ElsPreset})
            options.filters.push_back(preset(kind));
}

// A filter file as tcpdump reads one: '#' starts a comment to the end of
// the line.
std::string readFilterFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw UsageError(path + ": " + std::strerror(errno));
    std::string expression;
    for (std::string line; std::getline(in, line);)
        expression += line.substr(0, line.find('#')) + "\n";
    return expression;
}

void setReadFilter(Options& options, const std::string& expression)
{
    if (options.readFilter)
        throw UsageError("more than one filter expression (-f, -F)");
    options.readFilter = expression;
}

unsigned long parseFrameCount(const std::string& text)
{
    const uint32_t count = parseNumber(text, UINT32_MAX, "frame count");
    if (count == 0)
        throw UsageError("invalid frame count 0: -c takes 1 or more");
    return count;
}

// Handles one option; false when `name` is not an option of the tool.
bool applyOption(Options& options, ArgumentCursor& cursor)
{
    const std::string& name = cursor.name();
    if (name == "-o" || name == "-w" || name == "--output")
        options.outputPath = cursor.value();
    else if (name == "-f")
        setReadFilter(options, cursor.value());
    else if (name == "-F")
        setReadFilter(options, readFilterFile(cursor.value()));
    else if (name == "-c")
        options.frameCount = parseFrameCount(cursor.value());
    else if (name == "--dump")
        options.dumpPath = cursor.value();
    else if (name == "--sort-memory")
        options.sortMemory = parseMemorySize(cursor.value());
    else if (name == "--buffer")
        options.buffers.push_back(parseBufferRequest(cursor.value()));
    else if (name == "--filter")
        options.filters.push_back(parseFilterRequest(cursor.value()));
    else if (name == "--local") {
        std::string address = cursor.value();
        if (!options.local.add(address))
            throw UsageError("'" + address + "' is neither a MAC address nor an FC id");
    } else if (name == "--fc" || name == "--eth" || name == "--els") {
        cursor.noValue();
        FilterKind kind = name == "--fc"    ? FilterKind::FcPreset
                          : name == "--eth" ? FilterKind::EthPreset
                                            : FilterKind::ElsPreset;
        options.filters.push_back(preset(kind));
    } else if (name == "--syslog" || name == "--syslog-nonblocking") {
        cursor.noValue();
        options.syslog = true;
        options.syslogNonBlocking = options.syslogNonBlocking || name == "--syslog-nonblocking";
    } else if (name == "--wall-clock") {
        cursor.noValue();
        options.wallClock = true;
    } else if (name == "--local-time") {
        cursor.noValue();
        options.localTime = true;
    } else if (name == "-q" || name == "--quiet") {
        cursor.noValue();
        options.quiet = true;
    } else if (name == "-h" || name == "--help") {
        cursor.noValue();
        options.help = true;
    } else if (name == "--version") {
        cursor.noValue();
        options.version = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

InputFile parseInputFile(const std::string& text)
{
    InputFile input{text, std::nullopt};
    size_t at = text.rfind('@');
    struct stat status;
    if (at == std::string::npos || at == 0 || stat(text.c_str(), &status) == 0)
        return input;  // a path that exists is a path, '@' or not
    std::string port = text.substr(at + 1);
    input.path = text.substr(0, at);
    size_t dot = port.find('.');
    if (dot == std::string::npos) {
        input.port = hostsimPort(static_cast<uint16_t>(parseNumber(port, kMaxPortNumber, "port")));
    } else {
        auto first = parseNumber(port.substr(0, dot), 0xFFFF, "port");
        auto second = parseNumber(port.substr(dot + 1), 0xFFFF, "port");
        input.port = hostsimPortPair(static_cast<uint16_t>(first), static_cast<uint16_t>(second));
    }
    return input;
}

size_t parseMemorySize(const std::string& text)
{
    constexpr uint64_t kMiB = 1 << 20;
    constexpr uint32_t kMaxNumber = 1u << 31;
    const std::string units = "KMG";
    const size_t unit = text.empty() ? std::string::npos : units.find(text.back());
    const uint64_t scale = unit == std::string::npos ? 1 : uint64_t{1024} << (10 * unit);
    const std::string digits = unit == std::string::npos ? text : text.substr(0, text.size() - 1);
    const uint64_t bytes = uint64_t{parseNumber(digits, kMaxNumber, "sort memory")} * scale;
    if (bytes < kMiB || bytes > std::numeric_limits<size_t>::max())
        throw UsageError("sort memory " + text + " is outside 1M to the address space");
    return static_cast<size_t>(bytes);
}

Options parseOptions(const std::vector<std::string>& args)
{
    Options options;
    std::vector<std::string> files;
    bool onlyFiles = false;
    ArgumentCursor cursor(args);
    while (cursor.next()) {
        const std::string& name = cursor.name();
        if (onlyFiles || name.empty() || name[0] != '-' || name == "-" ||
            name.rfind("-@", 0) == 0) {
            files.push_back(name);
        } else if (name == "-r") {
            files.push_back(cursor.value());
        } else if (name == "--") {
            onlyFiles = true;
            cursor.onlyFiles();
        } else if (!applyOption(options, cursor)) {
            throw UsageError("unknown option " + name);
        }
    }
    if (options.help || options.version)
        return options;
    if (files.empty())
        throw UsageError("no capture file given");
    for (const std::string& file : files)
        options.inputs.push_back(parseInputFile(file));
    auto fromStdin = [](const InputFile& input) { return input.path == "-"; };
    if (std::count_if(options.inputs.begin(), options.inputs.end(), fromStdin) > 1)
        throw UsageError("standard input ('-') given more than once");
    applyDefaults(options);
    checkBuffers(options);
    return options;
}

}  // namespace replay
