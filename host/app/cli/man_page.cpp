#include "man_page.h"

#include <vector>

#include "cli_usage.h"
#include "options.h"

namespace tavhost {

namespace {

// Text as roff shows it: backslashes and minus signs escaped, no line taken
// for a request.
std::string Roff(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

// One option as a tagged paragraph: its names and value, then its help.
std::string Item(const OptionDef& o) {
    std::string tag = std::string("\\fB") + Roff(o.name) + "\\fR";
    if (o.alias) tag = std::string("\\fB") + Roff(o.alias) + "\\fR, " + tag;
    if (o.shown) tag += std::string(" \\fI") + Roff(o.shown) + "\\fR";
    std::string help = WithDefault(o);
    for (char& c : help)
        if (c == '\n') c = ' ';
    return ".TP\n" + tag + "\n" + Roff(help) + "\n";
}

template <class O>
std::string Items(const std::vector<O>& table) {
    std::string out;
    for (const O& o : table) out += Item(o);
    return out;
}

std::string KeyItems(OptionScope scope) {
    std::string out;
    for (const Option& o : RenderOptions())
        if (o.scope == scope && o.key)
            out += std::string(".TP\n\\fB") + Roff(o.key) + "\\fR\nas \\fB" + Roff(o.name) +
                   "\\fR: " + Roff(Expected(o)) + "\n";
    return out;
}

}  // namespace

std::string ManPage() {
    return std::string(".TH TAVHOST 1 \"\" \"tavhost ") + TAV_VERSION +
           "\" \"User Commands\"\n"
           ".SH NAME\n"
           "tavhost \\- render box transitions on video clips into movies with sound\n"
           ".SH SYNOPSIS\n"
           ".B tavhost render\n\\fIBUNDLE\\fR [\\fIoptions\\fR] [\\fB\\-\\-in\\fR \\fIT\\fR] "
           "[\\fB\\-\\-out\\fR \\fIT\\fR] \\fICLIP\\fR... \\fB\\-o\\fR \\fIOUT\\fR\n.br\n"
           ".B tavhost render \\-\\-edit\n\\fIFILE.json\\fR [\\fIoptions\\fR] [\\fB\\-o\\fR "
           "\\fIOUT\\fR]\n.br\n"
           ".B tavhost list\n[\\fB\\-\\-speed\\fR \\fIS\\fR]\n.br\n"
           ".B tavhost placeholder\n\\fIBUNDLE\\fR [\\fIoptions\\fR] \\fB\\-o\\fR \\fIFILE\\fR\n"
           ".br\n"
           ".B tavhost join\n\\fIPART\\fR... \\fB\\-o\\fR \\fIOUT\\fR\n.br\n"
           ".B tavhost demo\n[\\fB\\-o\\fR \\fIDIR\\fR] [\\fB\\-\\-quiet\\fR]\n.br\n"
           ".B tavhost \\-\\-version\n"
           ".SH DESCRIPTION\n"
           "\\fBtavhost\\fR renders the box transitions (boxscatter, boxrevealwhite, "
           "boxrevealblack, boxconcealwhite, boxconcealblack) on real clips: a between-clips "
           "bundle joins every two neighbouring clips, a bundle that opens or closes a clip "
           "covers its first or last frames. The output is an MP4, MOV or MKV movie (H.264 and "
           "AAC), a WebM movie (VP9 and Opus), a folder of PNG frames or a frame pattern, "
           "staged under a hidden name and moved into place only when complete.\n"
           ".SH RENDER OPTIONS\n" +
           Items(RenderOptions()) +
           ".TP\n\\fB\\-\\-\\fR\nthe words after it are the bundle and clips; a clip \\- is "
           "read from standard input\n"
           ".SH LIST OPTIONS\n" +
           Items(ListOptions()) + ".SH PLACEHOLDER OPTIONS\n" + Items(PlaceholderOptions()) +
           ".SH DEMO OPTIONS\n" + Items(DemoOptions()) + ".SH JOIN OPTIONS\n" +
           "The parts of one render, each written by \\fBrender \\-\\-part\\fR \\fIK/N\\fR "
           "into a .mkv file, given in any order, become its movie: the pictures copied, the "
           "sound encoded once.\n" +
           Items(JoinOptions()) +
           ".SH EDIT FILES\n"
           "An edit file (JSON) lists \\fBclips\\fR (paths, or objects with \\fBpath\\fR, "
           "\\fBin\\fR, \\fBout\\fR and \\fBduration\\fR), the transitions at \\fBopen\\fR, "
           "\\fBjoins\\fR (one object for every join, or a list with \\fBnull\\fR for a plain "
           "cut) and \\fBclose\\fR, and the \\fBoutput\\fR. Paths are relative to the file. "
           "Values on the command line win over the file's.\n"
           ".SS Keys of a transition (besides bundle)\n" +
           KeyItems(OptionScope::kTransition) + ".SS Keys of output\n" +
           KeyItems(OptionScope::kOutput) +
           ".SH EXIT STATUS\n"
           "0 done; 1 failed; 2 a mistake on the command line or a bad value; 128 + the signal "
           "when interrupted (130 for Ctrl\\-C, 143 for SIGTERM).\n"
           ".SH ENVIRONMENT\n"
           ".TP\n\\fBTAV_PLUGIN_PATH\\fR\nfolders searched for bundles first, separated by "
           "colons\n"
           ".TP\n\\fBTAV_FONT\\fR\nanother font file for text\n"
           ".SH SEE ALSO\n"
           "\\fBffmpeg\\fR(1), \\fBmelt\\fR(1), \\fBgst\\-launch\\-1.0\\fR(1)\n";
}

}  // namespace tavhost
