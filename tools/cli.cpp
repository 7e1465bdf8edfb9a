#include "tools/cli.h"

namespace tarvion::tool {

const std::vector<EnvironmentVariable>& environmentVariables() {
  static const std::vector<EnvironmentVariable> list = {
      {"TARVION_PORT_<n>",
       "Device that port number n (1 to 998) opens, for example /dev/ttyUSB0 or a "
       "/dev/serial/by-id path; without it port n opens /dev/ttyS<n-1>"},
      {"TARVION_USB_DEVICE", "Device the USB search (port numbers 999 and more) uses instead of searching"},
      {"TARVION_CHECK_DOCUMENT", "Check station of the virtual printers: out (default), in or auto"},
      {"TARVION_SYSFS_ROOT", "Folder read instead of /sys when searching and listing devices"},
      {"TARVION_DEV_ROOT", "Folder read instead of /dev when searching and listing devices"},
      {"TMPDIR", "Folder of the operation log: a file KTTarvionLog.txt there turns logging on"},
      {"XDG_CONFIG_HOME", "Folder of the settings the drivers keep (tarvion/ below it; default ~/.config)"},
  };
  return list;
}

CommandLine::CommandLine() : app("tarvion: drive Brazilian fiscal printers and check printers through one control") {
  app.require_subcommand(1);

  models = app.add_subcommand("models", "List the fiscal and check printer models");
  models->add_flag("--json", modelsJson, "Print JSON");

  entries = app.add_subcommand("entries", "List the control's dispatch entries");
  entries->add_flag("--json", entriesJson, "Print JSON");

  ShellArgs& s = shellArgs;
  shell = app.add_subcommand("shell", "Run one call per line from FILE or standard input");
  shell->add_flag("--json", s.json, "Answer each call with a JSON object");
  shell->add_option("FILE", s.file, "Script to run (default: standard input)")->type_name("");
  shell
      ->add_option("--virtual", s.virtuals,
                   "Attach an in-process virtual printer of fiscal model MODEL to port number PORT (MODEL@PORT; "
                   "repeatable)")
      ->type_name("MODEL@PORT")
      ->allow_extra_args(false);
  shell->add_option("--state", s.states, "Fiscal state file of the matching --virtual printer")
      ->type_name("FILE")
      ->allow_extra_args(false);
  shell->add_option("--paper", s.papers, "File that receives the paper of the matching --virtual printer")
      ->type_name("FILE")
      ->allow_extra_args(false);
  shell
      ->add_option("--answer", s.answers,
                   "Answer the operator prompts in order: ok, cancel, yes or no (repeatable; the last one repeats)")
      ->type_name("WORD")
      ->check(CLI::IsMember({"ok", "cancel", "yes", "no"}))
      ->allow_extra_args(false);

  EmulateOptions& e = emulateOptions;
  emulate = app.add_subcommand("emulate", "Run a virtual printer on a new pseudo-terminal");
  emulate
      ->add_option("MODEL", e.model,
                   "Fiscal model number, or the model's name as 'tarvion models' lists it (check printers too, by "
                   "name; a model without a "
                   "virtual printer lists the ones that have one)")
      ->type_name("")
      ->required();
  emulate->add_option("--link", e.linkPath, "Also make a symbolic link to the terminal at PATH")->type_name("PATH");
  emulate->add_option("--state", e.statePath, "Fiscal state file (kept across restarts)")->type_name("FILE");
  emulate->add_option("--paper", e.paperPath, "File that receives the printed paper")->type_name("FILE");
  emulate->add_option("--baud", e.baud, "Line speed the answers are paced to (0: no pacing)")->type_name("BAUD");
  emulate
      ->add_option("--fault", e.fault,
                   "Faults to inject: noanswer, nak, garbage, short, slow=MS, cut=N, once, always, none "
                   "(comma-separated)")
      ->type_name("LIST");

  demo = app.add_subcommand("demo", "A whole sale and an X report on an in-process virtual printer");
  demo->add_flag("--json", demoJson, "Answer each call with a JSON object");

  ports = app.add_subcommand(
      "ports", "List the serial devices, the port number each opens as and whether this user may open it");
  ports->add_flag("--json", portsJson, "Print a JSON array, one object per device");

  serve = app.add_subcommand("serve", "Serve printers over HTTP/JSON, with idempotent retries and a page");
  ServeCommandOptions& o = serveOptions;
  serve->add_option("--config", o.configPath, "JSON configuration file (see the README)")->type_name("FILE");
  serve->add_option("--listen", o.listen, "Address to listen on (default 127.0.0.1:8787)")->type_name("HOST:PORT");
  serve->add_option("--journal", o.journalDir, "Folder of the idempotency journal (kept across restarts)")
      ->type_name("DIR");
  serve->add_flag("--journal-drop-damaged", o.journalDropDamaged,
                  "Start even when the journal is damaged before its end, forgetting the damaged records (their "
                  "keys could run again)");
  serve->add_option("--printer", o.printers, "A printer on a port, MODEL a number or name (repeatable)")
      ->type_name("ID=MODEL@PORT[,BAUD]")
      ->allow_extra_args(false);
  serve->add_option("--virtual", o.virtuals, "An in-process virtual printer (repeatable)")
      ->type_name("ID=MODEL[,state=FILE][,paper=FILE]")
      ->allow_extra_args(false);
  serve
      ->add_option("--token-file", o.tokenFile,
                   "File whose first line is the token clients send (Authorization: Bearer TOKEN)")
      ->type_name("FILE");

  // Last, so that only the top-level help lists the environment, not each subcommand's.
  std::string footer = "Environment:";
  for (const auto& v : environmentVariables()) footer += std::string("\n  ") + v.name + "\n      " + v.meaning;
  app.footer(footer);
}

}  // namespace tarvion::tool
