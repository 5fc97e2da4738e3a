#include "help.h"

#ifndef VORNLOG_VERSION
#define VORNLOG_VERSION "unknown"
#endif

namespace vornlog {

namespace {

constexpr std::string_view kHelp = R"(vornlog makes the USB traffic between a PC and a QMR5V stepper-motor
controller readable.

Usage:
   vornlog [options] <dump file> <dest file>
   vornlog --help | --version

The last two arguments are always the dump file and the dest file. Every
argument before them is an option, known by its first two characters: -sx
counts as -s, and -nq as -n alone (write -n -q).

Run modes (the last one given counts; without one, the report):
   -v  full-details report: every message decoded field by field (default)
         vornlog -v session.txt report.txt
   -s  steps CSV: every motion segment the controller stored
         vornlog -s session.txt steps.csv
   -p  SVG picture of the motion: tool path, PWM and buffer fill
         vornlog -p session.txt motion.svg
   -t  session summary: messages, errors, the stream's health, reply times
         vornlog -t session.txt summary.txt
   -j  JSON Lines: one JSON object per message, one line each, with its
       number, sender, time, bytes, instruction, fields (name, raw value,
       meaning, bit rows) and errors, for jq, Python or pandas
         vornlog -j session.txt session.jsonl
   -w  viewer page: one HTML file with the capture in it that decodes and
       shows the session in the browser (timeline, tool path, messages,
       summary); opened in the default browser unless -n
         vornlog -w session.pcapng session.html
   -l  live viewer: while the capture is read (with -f, -F or a pipe, as
       it grows), vornlog serves the viewer page on this computer only
       (127.0.0.1 and ::1) and prints "Live viewer: " and its address,
       which holds a secret token; opened in the default browser unless
       -n. At the end of the input (the end of a file without -f, the end
       of a pipe, Ctrl-C) the dest file is written as -w writes it; it
       serves until Ctrl-C
         vornlog -l -f session.pcapng session.html

Other options:
   -d BUS.ADDR  the USB device to decode in a pcap or pcapng capture;
                without it, the first device that answers an instruction
                of the PC with the same instruction (a text dump ignores it)
         vornlog -d 1.7 session.pcapng report.txt
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
   each message reaches the dest file as soon as it has arrived. Ctrl-C
   (or SIGTERM) ends the reading; what was read is written out as at the
   end of a capture (the CSV, the picture, the summary), and the console
   says after which line or packet.
         dumpcap -i usbmon1 -w - | vornlog -n - -

Exit status:
   0  the run completed, whatever the messages in the capture held
   1  the usage text was shown, the dump file could not be read (or is a
      damaged capture file), or the dest file could not be written (it is
      the dump file, or the disk is full)
   130  Ctrl-C cut short the decoding of a file on a disk (interrupting a
        pipe, a terminal, -f or -F ends the run with 0)
)";

} // namespace

std::string_view packageVersion() { return VORNLOG_VERSION; }

void putHelp(Out& out) { out.write(kHelp); }

} // namespace vornlog
