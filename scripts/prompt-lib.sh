# Sourced: drives Wine's cmd.exe in a tmux session as a user at a Windows
# command prompt would. Needs scripts/wine-env sourced first, and
# $session set to a tmux session name of the caller's own.

# The pane's text without blank lines at the end.
pane() { tmux capture-pane -p -J -t "$session" -S -200 | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }

# Polls the pane every 100 ms until it matches the extended regex $1 (at
# most $2 seconds, default 20).
wait_pane() {
    local pattern=$1 limit=${2:-20} i
    for ((i = 0; i < limit * 10; i++)); do
        pane | grep -Eq -- "$pattern" && return 0
        sleep 0.1
    done
    return 1
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
