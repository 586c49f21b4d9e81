#!/usr/bin/env bash
# End-to-end tests that need a real Windows command prompt: Wine's cmd.exe on
# a terminal console, driven through tmux (send-keys, capture-pane), or kept
# busy under `script` where the text must be compared exactly.
# Usage: prompt-tests.sh <build-dir>
set -uo pipefail

build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../scripts/wine-env" "$build"
. "$here/../../../scripts/prompt-lib.sh"
cd "$build"

session="vrek-prompt-$$"
workdir=$(mktemp -d)
trap 'tmux kill-session -t "$session" 2>/dev/null; rm -rf "$workdir"' EXIT

# Waits until no process matches $1 (at most $2 seconds).
no_process() { ! pgrep -f -- "$1" >/dev/null; }
wait_gone() { wait_for "${2:-20}" no_process "$1"; }

prompt=$(winpath "$build")">"

# --- A job at the prompt: the prompt comes back, then the output, the result
# line and the redrawn prompt. vrek is found on PATH, as a user installs it.
start_prompt "$build" || fail "cmd.exe did not show its prompt"
type_line "set PATH=$(winpath "$build");%PATH%"
type_line "vrek cmd /c echo hello"
if wait_pane "job: [0-9]+ started" && wait_pane "job [0-9]+: result 0"; then
    text=$(pane)
    job=$(grep -Eo 'job: [0-9]+ started' <<<"$text" | grep -Eo '[0-9]+')
    # After the launcher's line: the prompt came back before the job's end.
    after=$(sed -n '/job: [0-9]* started/,$p' <<<"$text")
    grep -Eq "result 0" <<<"$(tail -n +2 <<<"$after")" || fail "the result line follows the launcher's line"
    grep -qx "hello" <<<"$after" && pass "the command's output stands on its own line" ||
        fail "output line missing: $after"
    grep -Eq "^\[[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\] job $job: result 0$" <<<"$after" &&
        pass "the result line carries the job number ($job)" || fail "result line: $after"
    last=$(pane | tail -n 1)
    [ "$last" = "$prompt" ] && pass "the prompt is redrawn last" || fail "last line '$last', expected '$prompt'"
else
    fail "no job or no result line: $(pane)"
fi

# --- The same with --out: the output and the result line go to the file
# (no separating newline, no prompt); the console hears of the end: the
# result line and the redrawn prompt. With --nul as well.
clear_screen
rm -f "$build/prompt-out.txt"
type_line "vrek --out prompt-out.txt --task cmd /c echo filed"
ended() { grep -q "result" "$build/prompt-out.txt" 2>/dev/null; }
if wait_pane "job: [0-9]+ started" && wait_for 20 ended; then
    body=$(tr -d '\r' <"$build/prompt-out.txt" 2>/dev/null)
    first=$(head -n 1 <<<"$body")
    [ "$first" = "filed" ] && pass "--out: the output starts the file" || fail "--out file: '$body'"
    grep -Eq "^\[.*\] job [0-9]+: result 0$" <<<"$(tail -n 1 <<<"$body")" && pass "--out: the result line ends the file" ||
        fail "--out result line: '$body'"
    grep -qF ">" <<<"$body" && fail "--out: a prompt was written to the file" || pass "--out: no prompt in the file"
    grep -qx "filed" <<<"$(pane)" && fail "--out: output reached the console" || pass "--out: no output on the console"
    wait_pane "^\[.*\] job [0-9]+: result 0$" && wait_last "$prompt" && pass "--out: the console hears of the end" ||
        fail "--out: no end notice: $(pane | tail -n 3)"
fi
rm -f "$build/prompt-out.txt"
clear_screen
type_line "vrek --nul --task cmd /c exit 4"
wait_pane "^\[.*\] job [0-9]+: result 4$" && wait_last "$prompt" && pass "--nul: the console hears of the end" ||
    fail "--nul: no end notice: $(pane | tail -n 3)"

# --- The user's own PROMPT is drawn as cmd draws it.
clear_screen
type_line 'prompt [$P]$G'
type_line "vrek --task cmd /c echo own-prompt"
wait_pane "job [0-9]+: result 0" && wait_last "[${prompt%>}]>" && pass "the redrawn prompt follows PROMPT" ||
    fail "PROMPT: last line $(pane | tail -n 1)"
type_line "prompt"

# --- A console control event reaches the attached task. Wine does not pass
# Ctrl+C typed at the terminal to detached processes, so the event is sent
# with kill -INT to the task's own Unix process (never C-c: cmd.exe would
# exit). The task passes the stop on and exits, without a result line; its
# command, in a process group of its own, may outlive it.
clear_screen
type_line "vrek --task test_e2e.exe --child=stubborn 30017"
if wait_pane "job: [0-9]+ started"; then
    job=$(pane | grep -Eo 'job: [0-9]+ started' | tail -n 1 | grep -Eo '[0-9]+')
    # The task installs its handler before it starts the command: once both
    # run, the event is taken. The lifetime 30017 is this script's own, so
    # no other test's processes match.
    both() { pgrep -f -- "stubborn.*30017.*--pid-task--" >/dev/null && pgrep -f -- "^[^ ]*test_e2e.exe --child=stubborn 30017" >/dev/null; }
    wait_for 10 both
    task=$(pgrep -f -- "stubborn.*30017.*--pid-task--" | head -n 1)
    if [ -n "$task" ]; then
        kill -INT "$task"
        wait_gone "stubborn.*30017.*--pid-task--" 10 && pass "Ctrl+C event: the task ($job) stopped" ||
            fail "the task did not stop"
        pane | grep -q "job $job: result" && fail "a stopped task wrote a result line" ||
            pass "Ctrl+C event: no result line"
    else
        fail "task process not found"
    fi
    pkill -f -- "child=stubborn.*30017"
fi

# --- The redrawn prompt is the prompt's own folder, read as the job ends: a
# `cd` typed while the job runs shows, and --dir moves the job alone.
clear_screen
moved="$(winpath "$workdir")\\cd target"
mkdir -p "$workdir/cd target" "$workdir/with space"
type_line "vrek --delay 2 --task cmd /c echo after-cd"
wait_pane "job: [0-9]+ started"
type_line "cd /d \"$moved\""
if wait_pane "job [0-9]+: result 0" && wait_last "$moved>"; then
    pass "a cd typed while the job ran shows in the redrawn prompt"
else
    fail "redrawn prompt after cd: $(pane | tail -n 3)"
fi
clear_screen
type_line "vrek --dir \"$(winpath "$workdir")\\with space\" --task cmd /c echo in-dir"
if wait_pane "job [0-9]+: result 0" && wait_last "$moved>"; then
    pass "--dir moves the job, not the redrawn prompt"
else
    fail "redrawn prompt after --dir: $(pane | tail -n 3)"
fi

# --- A nested prompt that ends before the job: the job redraws the prompt
# the console has gone back to, with its folder.
clear_screen
type_line "cmd"
type_line "cd /d \"$(winpath "$workdir")\""
type_line "vrek --delay 2 --task cmd /c echo nested"
wait_pane "job: [0-9]+ started"
type_line "exit"
if wait_pane "job [0-9]+: result 0" && wait_last "$moved>"; then
    pass "a nested prompt gone: the redrawn prompt is the one the console went back to"
else
    fail "nested prompt: $(pane | tail -n 3)"
fi

# --- `cmd /c vrek ...`: the prompt that started the launcher ends at once;
# the job takes the console of the prompt the user sees.
clear_screen
type_line "cmd /c vrek --delay 1 --task cmd /c echo via-cmd-c"
if wait_pane "job [0-9]+: result 0"; then
    pane | grep -qx "via-cmd-c" && pass "cmd /c vrek: the output reaches the console" ||
        fail "cmd /c vrek: output missing: $(pane)"
    wait_last "$moved>" && pass "cmd /c vrek: the prompt the user sees is redrawn" ||
        fail "cmd /c vrek: last line $(pane | tail -n 1)"
else
    fail "cmd /c vrek: no result line: $(pane)"
fi

type_line "exit"
tmux kill-session -t "$session" 2>/dev/null

# --- In the Japanese locale (ANSI code page 932) relayed Shift_JIS text and
# the Japanese reports reach the console. Wine's C runtime refuses narrow
# non-ASCII text to a console: the bytes go to the console handle instead.
if LANG=ja_JP.UTF-8 start_prompt "$build"; then
    clear_screen
    type_line "vrek cmd /c echo 日本語の出力"
    if wait_pane "job [0-9]+: result 0"; then
        pane | grep -qx "日本語の出力" && pass "cp932: Japanese output relayed to the console" ||
            fail "cp932: Japanese output missing: $(pane)"
        # The console handle took the bytes the runtime refused: no write failed.
        pane | grep -q "書き込めませんでした" && fail "cp932: a completed write reported as failed: $(pane)" ||
            pass "cp932: no write failure reported"
    else
        fail "cp932: no result line: $(pane)"
    fi
    type_line "vrek --out no-such-dir\\x.txt --task cmd /c echo x"
    wait_pane "ファイルを開けませんでした: .*no-such-dir\\\\x\\.txt \\(" &&
        pass "cp932: the Japanese report reaches the console" || fail "cp932: no report: $(pane)"
    type_line "exit"
else
    fail "cmd.exe did not show its prompt in the Japanese locale"
fi
tmux kill-session -t "$session" 2>/dev/null

# --- Exact text, with cmd.exe kept busy so that its input line is not
# redrawn over the job's output (a Wine console trait).
log="$workdir/script.log"
# Runs `cmd /c "<line>"` on a terminal, its screen in $log. Wine now and then
# fails to start a process (the new process dies in its set-up; cmd then says
# it cannot recognise the line): only that is tried again, three times in all.
at_cmd() {
    local try
    for try in 1 2 3; do
        script -qfec "WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all '$WINE64' cmd /c \"$1\"" "$log" >/dev/null 2>&1
        grep -q "Can't recognize 'vrek\.exe" "$log" || return 0
        echo "note: Wine could not start vrek.exe (try $try)"
    done
}
at_cmd "vrek.exe cmd /c echo exact& test_e2e.exe --child=emit sleep:4000"
# Wine's terminal console moves the cursor instead of writing blanks.
clean=$(perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\e\][^\a]*\a//g' "$log" |
    tr -d '\r' | grep -v '^Script \(started\|done\)')
expected_re="^job: ([0-9]+) started
exact
\[[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\] job ([0-9]+): result 0
$(sed 's/[\\.]/\\&/g' <<<"$prompt")\$"
body=$(grep -v '^$' <<<"$clean")
if [[ "$body" =~ $expected_re ]] && [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ]; then
    pass "exact transcript: job line, output, result line, prompt"
else
    fail "exact transcript was: $(printf '%q' "$clean")"
fi

# --- An output file that cannot be opened, with every other stream on nul:
# the report and the boot error reach the prompt's console, and the command
# does not run.
rm -f "$workdir/ran.txt"
at_cmd "vrek.exe --nul --out no-such-dir\\o.txt --task test_e2e.exe --child=emit touch:$(winpath "$workdir")\\ran.txt & test_e2e.exe --child=emit sleep:3000"
clean=$(perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\e\][^\a]*\a//g' "$log" | tr -d '\r')
grep -qF "no-such-dir\\o.txt (" <<<"$clean" && grep -Eq "\] job boot error$" <<<"$clean" &&
    pass "unopenable --out with nul elsewhere: reported on the prompt's console" ||
    fail "unopenable --out: console showed $(printf '%q' "$clean")"
[ -e "$workdir/ran.txt" ] && fail "unopenable --out: the command ran" || pass "unopenable --out: the command did not run"

# --- A launcher whose parent cannot be found (started straight from a Unix
# shell, Wine reports parent 0) still starts the job: the task then fails to
# attach to the gone launcher and --out / --nul work as usual.
rm -f "$workdir/unix-parent.txt"
out=$("$WINE64" vrek.exe --nologo --out "$(winpath "$workdir")\\unix-parent.txt" --task cmd /c echo no shell here </dev/null 2>&1)
if [[ "$out" =~ ^job:\ [0-9]+\ started$ ]]; then
    for _ in $(seq 100); do [ -s "$workdir/unix-parent.txt" ] && break; sleep 0.1; done
    [ "$(tr -d '\r' <"$workdir/unix-parent.txt" 2>/dev/null)" = "no shell here" ] &&
        pass "no parent: the job runs and writes its file" || fail "no parent: file '$(cat "$workdir/unix-parent.txt" 2>/dev/null)'"
else
    fail "no parent: the launcher said '$out'"
fi

echo "prompt tests: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
