# Sourced: drives Wine's cmd.exe in a tmux session as a user at a Windows
# command prompt would. Needs scripts/wine-env sourced first, and
# $session set to a tmux session name of the caller's own.

# The visible pane's text without blank lines at the end.
pane() { tmux capture-pane -p -J -t "$session" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }

# Polls every 50 ms until a command succeeds (at most $1 seconds):
# wait_for 10 test -s f
wait_for() {
    local limit=$1 i
    shift
    for ((i = 0; i < limit * 20; i++)); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}

pane_matches() { pane | grep -Eq -- "$1"; }
last_line_is() { [ "$(pane | tail -n 1)" = "$1" ]; }
only_one_line() { [ "$(pane | grep -c .)" -eq 1 ]; }

# Until the pane matches the extended regex $1 (at most $2 seconds,
# default 20).
wait_pane() { wait_for "${2:-20}" pane_matches "$1"; }

# Until the pane's last line is exactly $1 (at most $2 seconds).
wait_last() { wait_for "${2:-20}" last_line_is "$1"; }

# Clears the console and waits until only the prompt stands on it.
clear_screen() {
    type_line "cls"
    wait_for 10 only_one_line
}

# Types a line at the prompt and presses Enter.
type_line() {
    tmux send-keys -t "$session" -l -- "$1"
    tmux send-keys -t "$session" Enter
}

# A Unix path as Wine's drive Z: shows it.
winpath() { echo "Z:${1//\//\\}"; }

# Starts cmd.exe in folder $1 and waits for its prompt.
start_prompt() {
    tmux kill-session -t "$session" 2>/dev/null
    tmux new-session -d -s "$session" -x 160 -y 50 \
        "cd '$1' && WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all LANG='$LANG' '$WINE64' cmd"
    wait_pane "^Z:.*>$" 30
}

# Outcome counting for the test scripts.
failures=0
passed=0
skipped=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
    passed=$((passed + 1))
}
skip() {
    echo "skipped: $*"
    skipped=$((skipped + 1))
}
