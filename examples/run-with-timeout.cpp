// Runs a command line with its output on a pipe, prints what it wrote and
// ends it if it runs past the time limit:
//   run-with-timeout [--timeout <ms>] "<command line>"
#include <kovra/C_GetOpt.h>
#include <kovra/C_Memory.h>
#include <kovra/C_Process.h>

#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    static const kovra::C_GetOpt::option options[] = {{L"timeout", 1, nullptr, 't'}, {nullptr, 0, nullptr, 0}};
    kovra::C_GetOpt getopt;
    getopt.setoptchar('-');
    unsigned long timeout = 10000;
    for (int c; (c = getopt.getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        if (c != 't') return 2;
        timeout = wcstoul(getopt.optarg(), nullptr, 10);
    }
    if (getopt.optind() != argc - 1) {
        fprintf(stderr, "usage: run-with-timeout [--timeout <ms>] \"<command line>\"\n");
        return 2;
    }

    kovra::C_Process process;
    if (process.Run(argv[argc - 1], 0, kovra::RUN_PIPE_OUT, 0, nullptr, nullptr, nullptr, nullptr) ==
        kovra::NO_PROCESS) {
        fprintf(stderr, "run-with-timeout: the command could not be started\n");
        return 1;
    }
    kovra::C_Memory output;
    const int count = process.Read(&output, timeout);  // until the command ends or the time is up
    if (count > 0) fwrite(output.GetMemory(), 1, static_cast<size_t>(count), stdout);
    if (process.Join(0) != 0) {
        process.Terminate();
        fprintf(stderr, "run-with-timeout: ended after %lu ms\n", timeout);
        return 1;
    }
    int known = 0;
    return process.GetExitCode(&known);
}
