#include "tool/Entry.h"

#include <windows.h>

#include <locale.h>
#include <stdio.h>

#include "kovra/C_Process.h"
#include "tool/DaemonManager.h"
#include "tool/JobControl.h"
#include "tool/Launcher.h"
#include "tool/TaskArgument.h"
#include "tool/TaskRunner.h"
#include "tool/TaskSettings.h"
#include "tool/Usage.h"

namespace vrek {

int VrekMain(int argc, wchar_t** argv) {
    setlocale(LC_CTYPE, "japanese");

    kovra::C_Process process;
    TaskSettings settings;
    if (ParseTaskPid(argv, argc) > 0) return RunTask(argv, argc, settings, process);

    switch (argc == 1 ? HELP_USAGE : GetHelpRequest(argc, argv)) {
    case HELP_USAGE:
        PrintUsage();
        return 0;
    case HELP_VERSION:
        _putws(kUsageLines[0]);
        return 0;
    case HELP_NONE:
        break;
    }
    if (const JobControlMode mode = GetJobControlMode(argc, argv)) return RunJobControl(mode, argc, argv);
    if (!ParseCommandLine(argv, argc, settings, 0, GetCommandLineW())) {
        if (!settings.errorMessage.Empty()) _putws(settings.errorMessage.GetString());
        return 1;
    }
    if (settings.managedDaemon) return RunDaemonManager();
    return RunLauncher(argv, settings, process);
}

}  // namespace vrek
