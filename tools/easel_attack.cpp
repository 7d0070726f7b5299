// easel-attack: makes the attacks of tools/attacks.h on an easel-server over
// the loopback interface and prints what each cost the others; with
// --before, the same against an earlier server, side by side.
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "attacks.h"
#include "base/command_line.h"

// The options into after (and before's server) and the attacks chosen.
static int parse_options(AttackSetup* after, AttackSetup* before, std::vector<const NamedAttack*>* chosen, int argc,
                         char** argv, int* status) {
  std::string attacks = "\nAttacks:\n";
  for (int i = 0; i < ATTACK_COUNT; i++) {
    char line[160];
    snprintf(line, sizeof line, "  %-12s %s\n", ATTACKS[i].name, ATTACKS[i].what);
    attacks += line;
  }
  CLI::App app(
      "Usage: easel-attack --server PATH [OPTION]...\n"
      "Starts the server on a free port of 127.0.0.1 for each attack, attacks it\n"
      "from 127.9.0.1 and other loopback addresses while four painters paint, and\n"
      "prints what each attack cost the painters and what the attacker got.\n",
      "easel-attack");
  app.formatter(std::make_shared<HelpLayout>(25));
  app.footer(attacks);
  auto value = [&](const char* name, const char* value_name, const char* description,
                   std::function<void(const std::string&)> set) {
    app.add_option_function<std::string>(name, set, description)->option_text(value_name)->trigger_on_parse();
  };
  value("--server", "PATH", "the server to attack", [after](const std::string& v) { after->server = v; });
  value("--before", "PATH",
        "an earlier server, attacked too, side by side (given\n"
        "the /motd password on its command line, as such\n"
        "servers took it)",
        [before](const std::string& v) { before->server = v; });
  value("--attack", "NAME", "one of the attacks below; may be repeated (default:\nevery attack)",
        [chosen](const std::string& v) {
          const NamedAttack* found = attack_named(v.c_str());
          if (!found) throw CLI::ValidationError("no attack '" + v + "'; try --help");
          chosen->push_back(found);
        });
  value("--seconds", "S", "length of the timed attacks (default 10)",
        [after](const std::string& v) { after->seconds = atof(v.c_str()); });
  value("--board-mib", "N", "size of the large board (default 17.6)",
        [after](const std::string& v) { after->board_bytes = size_t(atof(v.c_str()) * 1e6); });
  value("--address-space", "BYTES", "RLIMIT_AS of the server under the hostile HTTP\nrequests (default none)",
        [after](const std::string& v) { after->address_space = atol(v.c_str()); });
  value("--server-option", "ARG",
        "one more argument of the attacked servers, such as\n"
        "--server-option=--trust --server-option=127.9.0.0/24;\n"
        "may be repeated",
        [after](const std::string& v) { after->server_options.push_back(v); });
  add_help_flag(&app);
  auto report = [](CommandLineMistake mistake, const std::string& text) {
    if (mistake == UNKNOWN_OPTION)
      fprintf(stderr, "easel-attack: unknown option %s; try --help\n", text.c_str());
    else if (mistake == MISSING_VALUE)
      fprintf(stderr, "easel-attack: %s needs a value; try --help\n", text.c_str());
    else
      fprintf(stderr, "easel-attack: %s\n", text.c_str());
  };
  if (!command_line_parse(&app, argc, argv, status, report)) return 0;
  if (!after->server.empty() && after->seconds > 0 && after->seconds <= 600) return 1;
  report(INVALID_VALUE, "bad arguments; try --help");
  *status = 2;
  return 0;
}

int main(int argc, char** argv) {
  AttackSetup after, before;
  std::vector<const NamedAttack*> chosen;
  int status = 0;
  if (!parse_options(&after, &before, &chosen, argc, argv, &status)) return status;
  std::string before_server = before.server;
  before = after;
  before.server = before_server;
  before.password_flag = true;
  if (chosen.empty())
    for (int i = 0; i < ATTACK_COUNT; i++) chosen.push_back(&ATTACKS[i]);
  // A thousand connections need a thousand descriptors.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  signal(SIGPIPE, SIG_IGN);
  for (const NamedAttack* attack : chosen) {
    printf("== %s: %s\n", attack->name, attack->what);
    fflush(stdout);
    Figures old_figures;
    if (!before.server.empty()) old_figures = attack->run(before);
    Figures figures = attack->run(after);
    if (figures.items.empty()) status = 1;
    if (!before.server.empty()) printf("  %-55s %12s %12s\n", "", "before", "after");
    std::vector<std::string> names;
    for (const auto& item : old_figures.items) names.push_back(item.first);
    for (const auto& item : figures.items) names.push_back(item.first);
    // Names that repeat (memory after each step) are printed in order.
    size_t old_at = 0, new_at = 0;
    std::vector<std::string> seen;
    for (const std::string& name : names) {
      bool printed = false;
      for (const std::string& s : seen) printed = printed || s == name;
      (void)printed;
    }
    size_t rows = std::max(old_figures.items.size(), figures.items.size());
    for (size_t r = 0; r < rows; r++) {
      const auto* o = old_at < old_figures.items.size() ? &old_figures.items[old_at] : nullptr;
      const auto* n = new_at < figures.items.size() ? &figures.items[new_at] : nullptr;
      const std::string& name = n ? n->first : o->first;
      char old_text[32] = "", new_text[32] = "";
      if (o && o->first == name) {
        snprintf(old_text, sizeof old_text, "%.4g", o->second);
        old_at++;
      }
      if (n && n->first == name) {
        snprintf(new_text, sizeof new_text, "%.4g", n->second);
        new_at++;
      }
      if (before.server.empty())
        printf("  %-55s %12s\n", name.c_str(), new_text);
      else
        printf("  %-55s %12s %12s\n", name.c_str(), old_text[0] ? old_text : "-", new_text[0] ? new_text : "-");
    }
    fflush(stdout);
  }
  return status;
}
