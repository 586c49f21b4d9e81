// Runs a command line with its output on a pipe, prints what it wrote and
// ends it if it runs past the time limit:
//   run-with-timeout [--timeout <ms>] "<command line>"
#include <kovra/C_GetOpt.h>
#include <kovra/C_Integer.h>
#include <kovra/C_Memory.h>
#include <kovra/C_Process.h>

#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    static const kovra::C_GetOpt::option options[] = {{L"timeout", 1, nullptr, 't'}, {nullptr, 0, nullptr, 0}};
    kovra::C_GetOpt getopt;
    getopt.setoptchar('-');
    unsigned long timeout = 10000;
    for (int c; (c = getopt.getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        if (c != 't') return 2;
        // A limit that is no number must not become 0 ms: it is refused.
        // 0xFFFFFFFF would mean no limit at all, so the largest is one less.
        kovra::C_Integer limit;
        if (!limit.Parse(getopt.optarg()) || limit.Get() < 0 || limit.Get() >= 0xFFFFFFFF) {
            fprintf(stderr, "run-with-timeout: --timeout takes milliseconds from 0 to 4294967294, not '%ls'\n",
                    getopt.optarg());
            return 2;
        }
        timeout = static_cast<unsigned long>(limit.Get());
    }
    if (getopt.optind() != argc - 1) {
        fprintf(stderr, "usage: run-with-timeout [--timeout <ms>] \"<command line>\"\n");
        return 2;
    }

    kovra::C_Process process;
    if (process.Run(argv[argc - 1], 0, kovra::RUN_PIPE_OUT, 0, nullptr, nullptr, nullptr, nullptr) ==
        kovra::NO_PROCESS) {
        fprintf(stderr, "run-with-timeout: the command could not be started (error %lu)\n", GetLastError());
        return 1;
    }
    kovra::C_Memory output;
    const int count = process.Read(&output, timeout);  // until the command ends or the time is up
    if (count > 0) fwrite(output.GetMemory(), 1, static_cast<size_t>(count), stdout);
    switch (process.Join(0)) {
    case 0:
        break;  // ended: its exit code is recorded
    case 1:
        process.Terminate();
        fprintf(stderr, "run-with-timeout: ended after %lu ms\n", timeout);
        return 1;
    default: {
        // The wait itself failed: the command may still run, and ending
        // it is the one way not to leave it behind.
        const unsigned long error = GetLastError();
        process.Terminate();
        fprintf(stderr, "run-with-timeout: could not wait for the command (error %lu)\n", error);
        return 1;
    }
    }
    int known = 0;
    return process.GetExitCode(&known);
}
