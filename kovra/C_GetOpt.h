#pragma once

#include "kovra/KovraApi.h"

namespace kovra {

// Command-line option parser in the manner of the classic getopt family,
// over a vector of wide arguments with the option letters given as a narrow
// option string.
//
// - The lead character of options is '/' until setoptchar() changes it.
// - A long option is the lead twice followed by the name. Names match whole
//   and case-sensitively (no abbreviations); a long option's value is always
//   the next element (there is no "name=value" form).
// - There is no end-of-options marker: the lead twice and nothing else is an
//   invalid long option with an empty name.
// - Elements that are not options are skipped and, as parsing goes on, moved
//   behind the options; when parsing ends, optind() indexes the first of them.
// - Diagnostics are printed with wprintf to standard output while opterr() is
//   non-zero; set it to 0 to silence them.
//
// One object parses one argument vector from its first call to its end; its
// state is never reset. Writing optind() does not steer the scan.
// argv[0] is never examined. The parser reorders the pointers of argv (never
// the texts) and keeps pointers into the texts, so the caller keeps the
// vector alive and unchanged for the whole parse.
//
// Results: -1 when no option is left (and on every later call), '?' on an
// error, the option-string character (as a signed char widened to int) for a
// single-character option, and for a long option its `val`, or 0 after
// storing `val` into `*flag` when `flag` is set.
//
// Edges chosen here:
// - Only code units 0x01..0xFF can match an option letter, and ':' never does
//   (it only marks a letter that takes a value). A full-width or other wide
//   character is therefore always an invalid option instead of being taken
//   for the letter that shares its low byte. optopt() still keeps only the
//   low 8 bits of the offending character; the diagnostic prints it whole.
// - Letters 0x80..0xFF of the option string come back negative (signed char):
//   keep option letters ASCII.
// - When a required value is missing (the option was the last element),
//   optind() is left at the element after the option, i.e. at argc, never
//   past the end of the vector. Parsing has then ended: every later call
//   returns -1 and moves nothing.
// - Non-options are moved once, at the start of the call after the option that
//   followed them; calls made after the end has been reported move nothing.
// - The "の解析に失敗しました" diagnostic (an invalid letter inside a cluster
//   that is the last element) sets opterr() to 2 only when it is printed, so
//   a caller that silenced the diagnostics stays silenced. That error also
//   sets optopt() like every other invalid letter.
// - A null optstring counts as the empty one; a null element of argv counts
//   as a non-option.
// - The lead character is taken as an unsigned byte (code units 0x01..0xFF).
// - getopt() and getopt_long() are not meant to be mixed on one object.
class KOVRA_API C_GetOpt {
public:
    // One entry of a long-option table; an entry whose name is null ends the
    // table. has_arg non-zero means the option requires a value.
    struct option {
        const wchar_t* name;
        int has_arg;
        int* flag;
        int val;
    };

    C_GetOpt();
    virtual ~C_GetOpt();

    void setoptchar(char c);
    char getoptchar() const;

    // Value of the option just returned (points into argv), null when none.
    wchar_t*& optarg();
    // After each option, the element after it (and after its separate value);
    // after the non-options have been moved and at the end, the first of them.
    int& optind();
    // Non-zero: print diagnostics.
    int& opterr();
    // Option character of the last error (low 8 bits); 0 for a long option
    // whose value is missing.
    char& optopt();

    // Next single-character option. Only elements of exactly two characters
    // (the lead and a letter) are options; longer ones are non-options.
    int getopt(int argc, wchar_t** argv, const char* optstring);

    // Next single-character or long option. longopts may be null (every long
    // option is then invalid); longindex may be null, otherwise it receives
    // the table position of a matched long option.
    int getopt_long(int argc, wchar_t** argv, const char* optstring, const option* longopts, int* longindex);

protected:
    int _next(int argc, wchar_t** argv, const char* optstring, const option* longopts, int* longindex, bool longMode);
    void _permute(wchar_t** argv);
    bool _is_option_element(const wchar_t* element, bool longMode) const;
    int _long_option(int argc, wchar_t** argv, int p, const option* longopts, int* longindex);
    int _short_option(int argc, wchar_t** argv, int p, const char* optstring);
    int _cluster_option(int argc, wchar_t** argv, const char* optstring);
    // Marks the element at p (and its separate value) as the option just
    // handled; closes the option block when no non-options precede it.
    void _finish_option(int p, bool atBlockStart);
    wchar_t _lead() const;

private:
    wchar_t* optarg_;     // value of the option just returned, or null
    wchar_t* nextchar;    // next character of a pending cluster, or null
    int scanIndex;        // next element to examine; -1 once parsing ended on a missing value
    int nonOptionStart;   // first of the non-options skipped so far
    int optind_;          // public index (see optind())
    int opterr_;          // non-zero: print diagnostics
    char optopt_;         // option character of the last error
    char optchar;         // lead character of options
    bool lastWasOption;   // the previous call ended on an option or an option error
    int lastOptionIndex;  // element of the option returned last: the non-options move behind it and its value
};

}  // namespace kovra
