#include "KVEL_Help.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "KVEL_32.h"
#include "KVEL_Var.h"
#include "ui/HelpViewer.h"

namespace {

struct Topic {
  int context;
  const char* title;
  const char* body;
};

// Pages in the order the contents page lists them.
const std::vector<Topic>& Topics() {
  static const std::vector<Topic> topics{
      {100, "The main window",
       "<p>The main window is a terminal on the serial line to your controller. What the "
       "controller sends appears in the terminal area; what you type there goes to the "
       "controller character by character.</p>"
       "<p>The tool bar holds, from left to right: <b>Parameters</b> (switches between the "
       "terminal and the L-parameter grid of an indexer), <b>I / O Test</b> (opens the I/O test "
       "window of the selected unit type), the terminal log button (<b>Log is OFF</b> / "
       "<b>Log is ON</b>; its hint names the log file), the command buffer with the commands "
       "you typed, <b>R</b> (sends the selected command again), <b>H23</b> (asks the indexer "
       "for its identification) and the list of units found by a scan.</p>"
       "<p>The status bar shows the port settings, the program-file extension of the unit "
       "type and information about the selected unit.</p>"
       "<p>The ZorvDrive / GRV I/O test window uses the same help context; see "
       "<i>ZorvDrive and GRV I/O test</i>.</p>"},
      {1000, "Exit",
       "<p><b>Exit</b> (Alt+X) asks whether you really want to stop the program. On OK the "
       "program stops any running exchange, closes the port and ends. The settings of the "
       "selected unit type and the unit type itself are saved in KVEL_32.INI.</p>"},
      {1100, "Edit menu",
       "<p><b>Copy to clipboard</b> (Ctrl+C) copies the whole terminal screen as text, one line "
       "per row.</p><p><b>Clear screen</b> (Alt+C) empties the terminal; new output starts on "
       "the bottom line.</p>"},
      {1200, "Setup menu",
       "<p>Settings of the selected unit type: <b>Unit setup</b> (Alt+M), <b>Repeat Setup</b> "
       "(Alt+W), <b>Terminal</b> and <b>Communication</b> (F2). Each unit type keeps its own "
       "port, baud rate, macros, repeat delay, emulation and log file.</p>"},
      {1210, "Unit setup",
       "<p>Edits the settings of the selected unit type: the port number, the baud rate, the "
       "ten keyboard macros for Alt+0 ... Alt+9, the terminal emulation, the editor and the "
       "terminal log file. OK stores them in KVEL_32.INI and re-opens the port.</p>"
       "<p>In a macro the letters CR send a carriage return, LF a line feed and ESC an escape "
       "character.</p>"},
      {1220, "Repeat Setup",
       "<p>Sets the interval, in milliseconds, at which auto-repeat (Alt+Q) sends the selected "
       "command of the command buffer. Only digits are accepted; Enter confirms. The new "
       "interval is used the next time auto-repeat starts.</p>"},
      {1230, "Terminal setup",
       "<p>Chooses the terminal emulation (none, VT52, VT100 / ANSI) and other terminal "
       "settings. The emulation is saved with the unit type's settings.</p>"},
      {1240, "Communication setup",
       "<p>Changes the settings of the serial port: port, baud rate, data bits, parity, stop "
       "bits and flow control. The baud rate is kept for the unit type; the port number is "
       "set in <i>Unit setup</i>, and the other settings last until the program ends.</p>"},
      {1300, "Unit Select menu",
       "<p>Selects the family of the connected controller (F9 opens the menu): RQM / KQB1, "
       "RQM / KQB2, QN4100I, MU / XMU indexers, GRV or ZorvDrive. The selection loads that "
       "type's settings from KVEL_32.INI, re-opens its port and sets the window caption, the "
       "program-file extension and the tool-bar buttons. For QN4100I, MU / XMU, GRV and "
       "ZorvDrive the terminal sends what you type and shows what arrives.</p>"},
      {1400, "Commands menu",
       "<p><b>HEX Mode</b> (Alt+H) shows received control characters in hexadecimal, for "
       "example &lt;$0D&gt; for a carriage return. <b>Clear screen</b> (Alt+C) empties the "
       "terminal. <b>Repeat</b> (Alt+R) sends the selected command of the command buffer "
       "again, followed by CR LF.</p>"
       "<p><b>Send Program</b> (F5) downloads a program file into the selected indexer. "
       "<b>Recent Programs</b> below it offers the last eight program files sent; choosing "
       "one opens Send Program with it. A program file dropped on the main window opens "
       "Send Program with that file too. The status bar says how each download and upload "
       "ended: the file and the lines sent or saved, or what stopped it.</p>"},
      {1410, "Scan for indexer",
       "<p>(Alt+S) asks the addresses 1 to 99 of a daisy-chained line for indexers and lists "
       "every unit that answers in the units list. Choose a unit there to address it.</p>"},
      {1420, "Read L parameters",
       "<p>(F4) reads the L parameters of the selected indexer into the grid and into "
       "LPARAM.TXT. Press <b>Parameters</b> to see the grid; click a cell for the meaning of "
       "that parameter.</p>"},
      {1430, "Read program",
       "<p>Reads the program stored in the selected indexer and saves it in a program file of "
       "the unit type's extension.</p>"},
      {1440, "Read program and parameters",
       "<p>(F6) reads the program and the L parameters of the selected indexer into one "
       "program file.</p>"},
      {1450, "Auto repeat",
       "<p>(Alt+Q) sends the selected command of the command buffer again and again, at the "
       "interval of <i>Repeat Setup</i>. Typing any key in the terminal stops it. While it "
       "runs, the status bar says what it sends and how to stop it.</p>"},
      {1460, "View log file",
       "<p>(Alt+V) lets you choose a terminal log file and opens it with the program your "
       "desktop uses for that file type, or, when there is none, read-only in a window of "
       "KVEL's own. The log button on the tool bar switches logging on "
       "and off; while it is on, all terminal traffic is appended to the log file.</p>"},
      {2010, "Command buffer",
       "<p>The command buffer on the tool bar keeps the lines you typed in the terminal, newest "
       "first, at most 16; a line that differs from a kept one only in letter case is not kept "
       "again. Each line you end with Enter becomes the selected entry.</p>"
       "<p>Choose an entry from the list to select it: <b>R</b> (Alt+R) and auto-repeat send "
       "the selected entry, not the text in the edit field. Typing a text in the edit field "
       "and pressing Enter adds it to the list in alphabetical order without selecting it. "
       "Delete removes the highlighted entry of the open list; removing the selected one "
       "leaves nothing selected. Its pop-up menu holds <b>Clear All</b>, and <b>Save</b> and "
       "<b>Load</b> for a text file with one command per line.</p>"},
      {2020, "Repeat and auto repeat",
       "<p><b>R</b> on the tool bar (Alt+R) sends the selected entry of the command buffer "
       "once, followed by CR LF; with no entry selected it sends only CR LF.</p>"
       "<p>Auto repeat (Alt+Q) sends it again and again at the interval set in "
       "<i>Repeat Setup</i> (Alt+W, in milliseconds; 0 sends nothing). Typing any key in the "
       "terminal stops it, as does <i>Scan for indexer</i>.</p>"},
      {2030, "Keyboard macros",
       "<p>Alt+0 ... Alt+9 send the ten macros of the selected unit type, set in "
       "<i>Unit setup</i> (Alt+M). A macro is sent after one blank, with no line end added; "
       "in its text the letters CR stand for a carriage return, LF for a line feed and ESC "
       "for an escape character (upper case only). For example H23CR sends a blank, H23 and "
       "a carriage return.</p>"},
      {2040, "Hex mode",
       "<p><b>HEX Mode</b> (Alt+H, menu <i>Commands</i>) shows every received control "
       "character as its hexadecimal code between angle brackets, for example &lt;$0D&gt; "
       "for a carriage return; a line feed also starts a new line. Choose it again to switch "
       "it off. In hex mode received data is shown even while the L-parameter grid is "
       "shown.</p>"},
      {2050, "Terminal log",
       "<p>The log button on the tool bar (<b>Log is OFF</b> / <b>Log is ON</b>) appends "
       "everything the terminal shows and every key you type to the terminal log file of the "
       "unit type (its hint names the file; KVEL.LOG in the current folder unless "
       "<i>Unit setup</i> names another). Switching it on or off writes a line with the date "
       "and time. If the file cannot be written (a missing folder, a full disk), you are told "
       "once. <b>View log file</b> (Alt+V) opens a log file with the program your desktop "
       "uses for it, or in a window of KVEL's own.</p>"},
      {5100, "MU / XMU I/O test",
       "<p>The (X)MU I/O test switches the indexer's outputs one by one, drives the strobe "
       "outputs, reads its four inputs and runs a guided automatic test that ends with a "
       "numbered result. Follow the instructions of the automatic test step by step with "
       "<b>Start</b>, <b>Next</b> and <b>Finish</b>.</p>"},
      {150, "QN4100I I/O test",
       "<p>The QN4100I I/O test shows the 16 opto inputs of the indexer as lamps and sets its 8 "
       "opto outputs from the check boxes. It checks that the unit answers and then polls "
       "continuously until you press <b>Close</b>.</p>"},
      {200, "ZorvDrive / GRV opto inputs and outputs",
       "<p>The lamps show the opto inputs of the drive; the check boxes switch its opto "
       "outputs. The lamps are updated while the test runs.</p>"},
      {400, "ZorvDrive / GRV BCD outputs",
       "<p>The check boxes of this group switch the BCD outputs of the drive while the test "
       "runs.</p>"},
      {4300, "ZorvDrive / GRV: BCD page",
       "<p>Shows the value set on the BCD switch of the unit.</p>"},
      {4400, "ZorvDrive / GRV: BCD I/O page",
       "<p>Shows the BCD inputs as lamps and lets you switch the BCD outputs.</p>"},
      {4500, "ZorvDrive / GRV: Analog page",
       "<p>Shows the analog input with a bar gauge; for GRV controllers the analog output can "
       "be set here.</p>"},
      {4600, "ZorvDrive / GRV: Encoder page",
       "<p>Shows the encoder position read from the unit.</p>"},
      {kAboutHelpContext, "About KVEL",
       "<p>KVEL is a terminal and service tool for programmable motion controllers on an "
       "RS-232 line: step-motor indexers, servo drives and motion controls.</p>"
       "<p>Its settings are kept per unit type in KVEL_32.INI; start, configuration and close "
       "are recorded in error.log in the current folder.</p>"},
  };
  return topics;
}

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Link(const Topic& topic) {
  return "<li><a href=\"ctx:" + std::to_string(topic.context) + "\">" + topic.title + "</a></li>";
}

}  // namespace

void RegisterHelpPages() {
  std::map<int, kvel::HelpPage> pages;
  std::string contents = "<h1>KVEL help</h1><ul>";
  for (const Topic& topic : Topics()) {
    contents += Link(topic);
    pages[topic.context] = kvel::HelpPage{topic.context, topic.title,
                                          "<h1>" + std::string(topic.title) + "</h1>" + topic.body};
  }
  pages[kAboutHelpContext].html += "<p>Version " + std::string(KvelVersion()) + "</p>";
  if (!IniPath.empty()) {
    pages[kAboutHelpContext].html +=
        "<p>Settings file in use: <tt>" + HtmlEscaped(IniPath) + "</tt></p>";
  }
  contents += "</ul>";
  pages[kContentsHelpContext] = kvel::HelpPage{kContentsHelpContext, "Contents", contents};
  kvel::HelpViewer::Instance().SetPages(std::move(pages), kContentsHelpContext);
}
