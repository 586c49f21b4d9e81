#pragma once

namespace vrek {

// The help text, one entry per line, in order.
extern const wchar_t* const kUsageLines[];
extern const int kUsageLineCount;

// Writes the help text to standard output, one _putws per line.
void PrintUsage();

}  // namespace vrek
