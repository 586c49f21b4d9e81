#include <locale.h>
#include <stdio.h>

#include "tool/TaskSettings.h"
#include "tool/Usage.h"

int wmain(int argc, wchar_t** argv) {
    setlocale(LC_CTYPE, "japanese");

    vrek::TaskSettings settings;
    if (argc == 1) {
        vrek::PrintUsage();
        return 0;
    }
    if (!vrek::ParseCommandLine(argv, argc, settings, 0)) {
        if (!settings.errorMessage.Empty()) _putws(settings.errorMessage.GetString());
        return 1;
    }
    return 0;
}
