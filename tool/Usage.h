#pragma once

namespace vrek {

// The help text, one entry per line, in order.
extern const wchar_t* const kUsageLines[];
extern const int kUsageLineCount;

// Writes the help text to standard output, one _putws per line.
void PrintUsage();

// What a whole argument list (argv[1..argc-1]) asks of the help, which a
// new user types first: HELP_USAGE for exactly one of --help, -h, -?, /? and
// /h (the slash and single-dash forms in any letter case), HELP_VERSION for
// exactly --version, HELP_NONE for anything else (those words keep their
// ordinary meaning anywhere else on a line).
enum HelpRequest { HELP_NONE, HELP_USAGE, HELP_VERSION };
HelpRequest GetHelpRequest(int argc, wchar_t** argv);

}  // namespace vrek
