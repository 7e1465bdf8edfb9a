#include "tools/man/roff.h"

#include <sstream>

namespace tarvion::tool {

std::string roffText(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    lineStart = false;
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";  // a minus, so that options copied from the page work
    } else if (c == '\n') {
      out += "\n.br\n";
      lineStart = true;
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

bool isFlag(const CLI::Option* o) {
  return o->get_items_expected_max() == 0;
}
bool repeatable(const CLI::Option* o) {
  return o->get_items_expected_max() > 1;
}

// "\-h, \-\-help" or "\-\-state \fIFILE\fR" as the item's tag.
std::string optionTag(const CLI::Option* o) {
  std::string tag;
  for (const std::string& s : o->get_snames()) tag += (tag.empty() ? "" : ", ") + std::string("\\fB\\-") + s + "\\fR";
  for (const std::string& l : o->get_lnames())
    tag += (tag.empty() ? "" : ", ") + std::string("\\fB\\-\\-") + roffText(l) + "\\fR";
  if (!isFlag(o)) tag += " \\fI" + roffText(o->get_type_name()) + "\\fR";
  return tag;
}

std::string synopsis(const CLI::App* sub) {
  std::string line = "\\fBtarvion " + roffText(sub->get_name()) + "\\fR";
  for (const CLI::Option* o : sub->get_options()) {
    if (o->get_positional() || o == sub->get_help_ptr()) continue;  // the page's last synopsis line has --help
    const std::string name = o->get_lnames().empty() ? "-" + o->get_snames().front() : "--" + o->get_lnames().front();
    std::string item = "\\fB" + roffText(name) + "\\fR";
    if (!isFlag(o)) item += " \\fI" + roffText(o->get_type_name()) + "\\fR";
    line += " [" + item + "]" + (repeatable(o) ? "..." : "");
  }
  for (const CLI::Option* o : sub->get_options()) {
    if (!o->get_positional()) continue;
    const std::string name = "\\fI" + roffText(o->get_name(true)) + "\\fR";
    line += " " + (o->get_required() ? name : "[" + name + "]");
  }
  return line;
}

}  // namespace

std::string manPage(const CommandLine& cli, const std::string& version) {
  std::ostringstream m;
  std::string summary = cli.app.get_description();
  if (summary.rfind("tarvion: ", 0) == 0) summary = summary.substr(9);
  m << ".\\\" Generated from the tool's command line (tools/cli.cpp); edit that, not this file.\n";
  m << ".TH TARVION 1 \"\" \"tarvion " << roffText(version) << "\" \"User Commands\"\n";
  m << ".SH NAME\ntarvion \\- " << roffText(summary) << "\n";
  m << ".SH SYNOPSIS\n";
  const auto subs = cli.app.get_subcommands([](const CLI::App*) { return true; });
  for (const CLI::App* sub : subs) m << synopsis(sub) << "\n.br\n";
  m << "\\fBtarvion\\fR [\\fB\\-\\-help\\fR]\n";
  m << ".SH DESCRIPTION\n"
    << "\\fBtarvion\\fR is the command\\-line face of the Tarvion control: it lists the printer models and the "
       "control's dispatch entries, runs calls on the control one per line, serves virtual printers on "
       "pseudo\\-terminals and lists the serial devices a printer may be attached to.\n"
    << "Every command answers \\fB\\-\\-help\\fR.\n";
  m << ".SH COMMANDS\n";
  for (const CLI::App* sub : subs) {
    m << ".SS " << roffText(sub->get_name()) << "\n";
    m << synopsis(sub) << "\n.PP\n" << roffText(sub->get_description()) << ".\n";
    for (const CLI::Option* o : sub->get_options()) {
      if (!o->get_positional()) continue;
      m << ".TP\n\\fI" << roffText(o->get_name(true)) << "\\fR\n" << roffText(o->get_description()) << ".\n";
    }
    for (const CLI::Option* o : sub->get_options()) {
      if (o->get_positional()) continue;
      m << ".TP\n" << optionTag(o) << "\n" << roffText(o->get_description()) << ".\n";
    }
  }
  m << ".SH ENVIRONMENT\n";
  for (const EnvironmentVariable& v : environmentVariables())
    m << ".TP\n.B " << roffText(v.name) << "\n" << roffText(v.meaning) << ".\n";
  m << ".SH EXIT STATUS\n"
       "0 when the command succeeded; \\fBtarvion shell\\fR exits with 2 when a line could not be understood; "
       "any other failure, a wrong command line included, exits with another non\\-zero status.\n";
  m << ".SH FILES\n.TP\n.I /usr/lib/udev/rules.d/60\\-tarvion.rules\n"
       "Gives the USB printers' serial devices to group dialout and their printer nodes to group lp.\n";
  return m.str();
}

}  // namespace tarvion::tool
