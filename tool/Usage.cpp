#include "tool/Usage.h"

#include <stdio.h>
#include <wchar.h>

namespace vrek {

const wchar_t* const kUsageLines[] = {
    L"vrek version 1.00",
    L" Windows コマンドをバックグラウンドで実行します。",
    L"",
    L"  --in  [param] 標準入力を制御します。",
    L"",
    L"  --out [param] 標準出力を制御します。",
    L"",
    L"  --err [param] 標準エラーを制御します。",
    L"     [param]",
    L"           parent: 親プロセスにリダイレクトします(default)",
    L"          console: 新しいコンソールにリダイレクトします",
    L"   parent-console: 親プロセスにリダイレクトできない時、新しいコンソールにリダイレクトします",
    L"              nul: 出力を破棄します",
    L"         上記以外: ファイル名として扱われファイルにリダイレクトします",
    L"",
    L"  --nul  in,out.err 全てのデフォルトを nul にします。",
    L"",
    L"  --console  in,out.err 全てのデフォルトを console にします。",
    L"",
    L"  --parent-console  in,out.err 全てのデフォルトを parent-console にします。",
    L"",
    L"  --delay [0.00 ～] プロセス実行を指定した時間、遅延させます。単位は秒",
    L"",
    L"  --pause 新しいコンソールを割り当てたとき pause をします",
    L"",
    L"  --nologo プロセスの出力結果などの情報をオフにします",
    L"",
    L"  --gui プロセスが GUI であることを示します",
    L"",
    L"  --task 以降の引数はバックグラウンドコマンドであることを示します",
    L"",
    L"  --flush 実行プロセスの出力の flush を試みます。デーモンに最適です。",
    L"",
    L"  --flush2 実行プロセスの出力の flush を試みます。--flush とは異なるロジックです。",
    L"",
    L"  --hide 非表示のコンソールを所持します。sigterm で通常終了が可能になります。",
    L"",
    L"  --dir カレントディレクトリを指定します。",
    L"",
    L"  --priority [param] プロセスの優先順位を指定します。",
    L"     [param]",
    L"             idle: 優先順位 アイドル",
    L"           bellow: 優先順位 少し低",
    L"           normal: 優先順位 普通",
    L"            above: 優先順位 少し高",
    L"             high: 優先順位 高",
    L"         realtime: 優先順位 リアルタイム",
    L"",
    L"  --daemon デーモンプロセスとして管理します。",
    L"",
    L"  --managed-daemon デーモンプロセス(--daemon)の管理ツールを起動します。",
    L"",
    L"  --jobs [all] このプロンプトのジョブ(all: 全てのジョブ)を一覧表示します。",
    L"",
    L"  --wait [No...] ジョブの終了を待ちます。終了コードは最後のジョブの結果です。",
    L"",
    L"  --sigterm [No... or 'all'] ジョブを出来るだけ安全に終了させます。",
    L"",
    L"  --sigkill [No... or 'all'] ジョブを終了できない場合は強制終了させます。",
    L"",
    L"",
    L" [例1] dir コマンドをバックグラウンドで実行",
    L"   vrek dir",
    L"",
    L" [例2] dir コマンドを 5秒遅延後にバックグラウンドで実行",
    L"   vrek --delay 5 --task dir",
    L"",
    L" [例3] netstat コマンドを 1.5 秒遅延後に新しいコンソールで実行",
    L"   vrek --delay 1.5 --console --pause --task netstat -an",
    L"",
    L" [例4] javac コマンドの標準エラー出力をファイルに設定しバックグラウンドで実行",
    L"   vrek --err error.txt --task javac readme.txt",
    L"",
    L" [例5] daemon として dir コマンドを実行する(※1)",
    L"   vrek --nul --nologo --task dir",
    L"",
    L" [例6] daemon として dir コマンドを log に出力しながら実行する(※1)",
    L"   vrek --nul --out daemon.log --nologo --task dir",
    L"",
    L" [例7] 今から20秒後に netstat コマンドを実行し、親がいない場合はコンソールを起動する。",
    L"   vrek --delay 20 --pause --parent-console --task netstat -an",
    L"",
    L" [例8] 自作成のプロセスを完全なデーモンプロセスとして管理します。",
    L"   vrek --nul --flush --out daemon.log --daemon --task myapplication.exe",
    L"",
    L" [例9] 直前に作成したデーモンプロセスを管理ツールから確認します。",
    L"   vrek --managed-daemon",
    L"",
    L"   ※1 dir コマンドは１回起動したら即時終了する為、常駐はしません",
    L"",
};

const int kUsageLineCount = static_cast<int>(sizeof kUsageLines / sizeof kUsageLines[0]);

void PrintUsage() {
    for (int i = 0; i < kUsageLineCount; ++i) _putws(kUsageLines[i]);
}

HelpRequest GetHelpRequest(int argc, wchar_t** argv) {
    if (argc != 2 || !argv[1]) return HELP_NONE;
    const wchar_t* word = argv[1];
    if (wcscmp(word, L"--help") == 0) return HELP_USAGE;
    if (wcscmp(word, L"--version") == 0) return HELP_VERSION;
    static const wchar_t* const forms[] = {L"-h", L"-?", L"/?", L"/h"};
    for (const wchar_t* form : forms)
        if (_wcsicmp(word, form) == 0) return HELP_USAGE;
    return HELP_NONE;
}

}  // namespace vrek
