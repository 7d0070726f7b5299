// The command lines of the server and the tools, read by CLI11: the help
// laid out as these programs have always written it (help2man makes their
// manual pages from it), and a parse that reports a mistake in the program's
// own words. Header only: the client has no options and never includes it.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <string>

// The help: the app's description (its usage lines and what it does), then
// each group of options in the order they were added under its name as a
// heading (the default group without one), and last the footer. An option is "  --name VALUE"
// padded to the column, or followed by two spaces when it reaches it, then
// its description, whose further lines start at the column too.
class HelpLayout : public CLI::Formatter {
 public:
  explicit HelpLayout(size_t column) { column_width(column); }

  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    std::string out = app->get_description();
    for (const std::string& group : app->get_groups()) {
      std::vector<const CLI::Option*> options =
          app->get_options([&](const CLI::Option* o) { return o->get_group() == group && o->nonpositional(); });
      if (group.empty() || options.empty()) continue;
      out += group == "Options" ? "\n" : "\n" + wrapped(group + ":") + "\n";
      for (const CLI::Option* o : options) out += option_line(o);
    }
    return out + app->get_footer();
  }

 private:
  // Broken between words before the 80th column.
  static std::string wrapped(const std::string& text) {
    std::string out;
    size_t line = 0, at = 0;
    while (at < text.size()) {
      size_t end = text.find(' ', at);
      std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (line > 0 && line + 1 + word.size() >= 80) {
        out += "\n";
        line = 0;
      } else if (line > 0) {
        out += " ";
        line++;
      }
      out += word;
      line += word.size();
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
  }

  std::string option_line(const CLI::Option* o) const {
    std::string line = "  --" + o->get_lnames().front();
    if (!o->get_option_text().empty()) line += " " + o->get_option_text();
    line += line.size() < get_column_width() ? std::string(get_column_width() - line.size(), ' ') : "  ";
    for (char c : o->get_description()) line += c == '\n' ? "\n" + std::string(get_column_width(), ' ') : std::string(1, c);
    return line + "\n";
  }
};

// What went wrong on a command line: an argument that is no option, an
// option without its value, or a value an option's callback refused (the
// text of its CLI::ValidationError).
enum CommandLineMistake { UNKNOWN_OPTION, MISSING_VALUE, INVALID_VALUE };
using MistakeReport = std::function<void(CommandLineMistake mistake, const std::string& text)>;

// Reads argv into app. Returns 1 to run; 0 when the program should exit with
// *status: 0 after the help (printed on standard output), 2 after a mistake,
// which report tells in the program's words. The options' callbacks run as
// their options are read, in order, so the first invalid value is the one
// reported; an unknown argument is reported once all are read.
inline int command_line_parse(CLI::App* app, int argc, char** argv, int* status, const MistakeReport& report) {
  try {
    app->parse(argc, argv);
    return 1;
  } catch (const CLI::CallForHelp&) {
    fputs(app->help().c_str(), stdout);
    *status = 0;
    return 0;
  } catch (const CLI::ExtrasError&) {
    report(UNKNOWN_OPTION, app->remaining().front());
  } catch (const CLI::ArgumentMismatch&) {
    // An option takes whatever follows it as its value: only the last
    // argument can be without one.
    report(MISSING_VALUE, argv[argc - 1]);
  } catch (const CLI::ParseError& e) {
    report(INVALID_VALUE, e.what());
  }
  *status = 2;
  return 0;
}

// --help and -h, which show the help as soon as they are read; listed in the
// help under group with that description, or not at all without a group.
inline void add_help_flag(CLI::App* app, const std::string& group = "", const std::string& description = "") {
  app->set_help_flag();
  app->add_flag_callback("-h,--help", [] { throw CLI::CallForHelp(); }, description)->group(group)->trigger_on_parse();
}
