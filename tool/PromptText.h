#pragma once

#include <windows.h>

#include <string>

namespace vrek {

// The prompt a job redraws when it ends, drawn as cmd draws it from PROMPT.

// What the prompt's codes show.
struct PromptFacts {
    std::wstring folder;       // $P: the prompt's folder; $N: its drive
    SYSTEMTIME now = {};       // $D, $T
    std::wstring version;      // $V
    std::wstring networkName;  // $M: the remote name of the folder's drive
};

// `prompt` (a PROMPT value; cmd's default "$P$G" when empty) with its codes
// replaced, in any letter case: $P folder, $G >, $L <, $N drive letter,
// $D date (the user's short date), $T time (H:MM:SS.cc, 24 hours, the hour
// padded with a blank), $_ line end, $$ $, $S blank, $Q =, $B |, $C (, $F ),
// $A &, $E escape, $H backspace, $V version, $M network name, $+ nothing.
// Any other code, and a $ that ends the text, is dropped.
//
// Choices where the behaviour was open:
// - $+ shows the depth of the prompt's own pushd stack, which no other
//   process can read: the job draws nothing for it.
std::wstring ExpandPrompt(const std::wstring& prompt, const PromptFacts& facts);

// The prompt for `folder`, from this process's PROMPT (the one the job
// inherited from its prompt), now.
std::wstring PromptFor(const std::wstring& folder);

}  // namespace vrek
