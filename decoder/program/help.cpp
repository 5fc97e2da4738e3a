#include "help.h"

#include "modes.h"

#ifndef VORNLOG_VERSION
#define VORNLOG_VERSION "unknown"
#endif

namespace vornlog {

namespace {

// Before the run modes, whose lines come from their table.
constexpr std::string_view kHelpHead = R"(vornlog makes the USB traffic between a PC and a QMR5V stepper-motor
controller readable.

Usage:
   vornlog [options] <dump file> <dest file>
   vornlog -c <before> [options] <after> <dest file>
   vornlog --help | --version

The last two arguments are always the dump file and the dest file. Every
argument before them is an option, known by its first two characters: -sx
counts as -s, and -nq as -n alone (write -n -q).

Run modes (the last one given counts; without one, the report):
)";

// After the run modes.
constexpr std::string_view kHelpTail = R"(
Other options:
   -d BUS.ADDR  the USB device to decode in a pcap or pcapng capture;
                without it, the first device that answers an instruction
                of the PC with the same instruction (a text dump ignores it); with
                -c, two devices apart by a comma: BEFORE's, then AFTER's
         vornlog -d 1.7 session.pcapng report.txt
   -c BEFORE  compare two sessions of one job: BEFORE, an earlier capture
       (never -), with the dump file (AFTER), aligned by the job's stored
       segments, not by the clock. The dest file lists where one run stood
       still or stopped and the other did not, or stood far longer, with
       the cause, the time stood and what came just before in both runs;
       the findings outside the motion by their counts; the whole-run
       figures side by side; the segments whose content differs. "No
       difference in the motion" when there is none; "Different jobs" with
       the share aligned when less than half the segments align. Text
       (alone or with -v), JSON Lines (-j) or one page of both runs (-w:
       their timelines aligned by segment, the differences as a list that
       selects the place in both, the tool paths overlaid; opened in the
       browser unless -n); with -s, -p, -t, -e, -l, -f, -F or --keep, the
       usage text. -d BUS.ADDR,BUS.ADDR chooses each
       capture's device (one for both when alone); a dest file that is
       BEFORE or AFTER is refused
         vornlog -c monday.pcapng tuesday.pcapng changes.txt
   -i LIST  keep only these instructions, both ways, in the report, the
            JSON Lines and the summary (the viewer page starts filtered
            so): letters (-iDS, -i D,S) or codes (-i 0x44); the steps CSV
            and the picture need every Data message and keep all
         vornlog -i D,S session.txt data-and-stop.txt
   -f  follow: at the end of the dump file, wait for it to grow (as
       tail -f does) until Ctrl-C; a record still being written is waited for
         vornlog -f session.pcapng report.txt
   -F  follow the name (as tail -F does): like -f, and when the name comes
       to lead to a new file (the capture renamed or deleted and started
       anew), the old one is read to its end and the new one from its
       start; on standard input or a pipe, as -f
         vornlog -F session.pcapng report.txt
   --fail-on=KINDS  with any mode: end with status 3 when a finding
       of these kinds was made (a comma list of underrun, stop, no-reply,
       refused, resend-differs, slow-reply; or any); with -c, when AFTER
       has one that BEFORE has not at the same place (of different jobs:
       when AFTER has more of that kind)
         vornlog --fail-on=underrun,stop -n job.txt summary.txt
   --keep=DIR  with -e or -l: for every finding, a viewer page of the
       capture from 60 s before it to 10 s after its end (of a longer one,
       its first 60 s and last 10 s), written into the folder DIR as
       finding-NUMBER-STARTs-KIND.html, never over a file; findings whose
       parts overlap share a page of at most 10 minutes, named
       finding-NUMBER-STARTs-KIND-to-LAST.html by its first and last
         vornlog -e -f --keep=stalls -n session.pcapng findings.jsonl
   --keep-max=SIZE  with --keep: the pages this run writes take at most
       SIZE bytes (K, M, G: 1024, 1024^2, 1024^3; 1G without it); the
       oldest are removed to make room, each named on the console. A page
       that cannot be written is named once, nothing more is kept and the
       run ends with status 1
         vornlog -e -f --keep=stalls --keep-max=200M -n session.pcapng findings.jsonl
   --port=N  the live viewer's port (-l); without it the system picks a
             free one. A port in use: "Can't listen on port N", status 1
         vornlog -l --port=8080 -f session.pcapng session.html
   -n  no viewer: the dest file is not shown when the run is over
         vornlog -n session.txt report.txt
   -q  quiet: no banner, no progress, no "Done"; errors still go to
       standard error, the exit status is the same
         vornlog -q -n session.txt report.txt
   -h  the short usage text, with exit status 1
         vornlog -h
   --help     this text (alone on the command line)
         vornlog --help
   --version  the program name, the package version and the decoder release
         vornlog --version

Files:
   <dump file>  a text dump of the capture tool, or a pcap or pcapng USB
                capture; - reads standard input
         vornlog - report.txt < session.txt
   <dest file>  the output, created or emptied; - writes standard output,
                the console text then goes to standard error and no viewer
                is started
         vornlog -s - - < session.txt | sort

Watching a live session:
   A pipe, a terminal or a followed file (-f, -F) is decoded as its bytes come:
   each message reaches the dest file as soon as it has arrived, each
   finding (-e) within a second of the message that completes it; an
   underrun or a stop still open after a second is written at once with
   "ongoing":true, and again when it ends. Ctrl-C
   (or SIGTERM) ends the reading; what was read is written out as at the
   end of a capture (the CSV, the picture, the summary), and the console
   says after which line or packet.
         dumpcap -i usbmon1 -w - | vornlog -n - -

Exit status:
   0  the run completed, whatever the messages in the capture held
   1  the usage text was shown, the dump file could not be read (or is a
      damaged capture file), or the dest file could not be written (it is
      the dump file, or the disk is full), or the live viewer could not
      keep the capture in TMPDIR (-l)
   3  --fail-on: a finding of the kinds it names was made (with -c: one
      that AFTER has and BEFORE has not), in a run that would otherwise
      end with 0
   130  Ctrl-C cut short the decoding of a file on a disk (interrupting a
        pipe, a terminal, -f or -F ends the run with 0)
)";

} // namespace

std::string_view packageVersion() { return VORNLOG_VERSION; }

void putHelp(Out& out)
{
    out.write(kHelpHead);
    for (const RunMode& mode : runModes()) out.write(mode.help);
    out.write(kHelpTail);
}

} // namespace vornlog
