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

static void usage() {
  printf(
      "Usage: easel-attack --server PATH [OPTION]...\n"
      "Starts the server on a free port of 127.0.0.1 for each attack, attacks it\n"
      "from 127.9.0.1 and other loopback addresses while four painters paint, and\n"
      "prints what each attack cost the painters and what the attacker got.\n"
      "\n"
      "  --server PATH          the server to attack\n"
      "  --before PATH          an earlier server, attacked too, side by side (given\n"
      "                         the /motd password on its command line, as such\n"
      "                         servers took it)\n"
      "  --attack NAME          one of the attacks below; may be repeated (default:\n"
      "                         every attack)\n"
      "  --seconds S            length of the timed attacks (default 10)\n"
      "  --board-mib N          size of the large board (default 17.6)\n"
      "  --address-space BYTES  RLIMIT_AS of the server under the hostile HTTP\n"
      "                         requests (default none)\n"
      "\nAttacks:\n");
  for (int i = 0; i < ATTACK_COUNT; i++) printf("  %-12s %s\n", ATTACKS[i].name, ATTACKS[i].what);
}

int main(int argc, char** argv) {
  AttackSetup after, before;
  std::vector<const NamedAttack*> chosen;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--help") {
      usage();
      return 0;
    }
    if (!v) {
      fprintf(stderr, "easel-attack: %s needs a value; try --help\n", a.c_str());
      return 2;
    }
    i++;
    if (a == "--server") {
      after.server = v;
    } else if (a == "--before") {
      before.server = v;
    } else if (a == "--attack") {
      const NamedAttack* found = attack_named(v);
      if (!found) {
        fprintf(stderr, "easel-attack: no attack '%s'; try --help\n", v);
        return 2;
      }
      chosen.push_back(found);
    } else if (a == "--seconds") {
      after.seconds = atof(v);
    } else if (a == "--board-mib") {
      after.board_bytes = size_t(atof(v) * 1e6);
    } else if (a == "--address-space") {
      after.address_space = atol(v);
    } else {
      fprintf(stderr, "easel-attack: unknown option %s; try --help\n", a.c_str());
      return 2;
    }
  }
  if (after.server.empty() || after.seconds <= 0 || after.seconds > 600) {
    fprintf(stderr, "easel-attack: bad arguments; try --help\n");
    return 2;
  }
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
  int status = 0;
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
