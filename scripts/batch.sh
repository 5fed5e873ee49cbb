#!/usr/bin/env bash
#SBATCH --job-name=fitsquad
# Runs one road of the fitsquad programs over many frames, one image per
# program call, so that a frame that fails stops no other frame and is named
# in a log. The roads:
#   split    quadsplit FRAME
#   patch    boxpatch -b X1 X2 Y1 Y2 FRAME
#   merge    quadmerge FRAME
#   repair   quadsplit FRAME, boxpatch -b X1 X2 Y1 Y2 on its channel b file,
#            quadmerge FRAME (stops at the first step that fails)
#
# One frame (as GNU parallel runs it); the exit status is the road's, 0 or 1:
#   batch.sh ROAD [-b X1 X2 Y1 Y2] FRAME
# A list of frames, one path per line: as a task of a Slurm job array it
# takes its slice of the list (task k of n, counted from the lowest index,
# with the array's step), otherwise the whole list. It logs one line per
# frame, "FRAME STATUS", to RESULTS/task-k.log and to standard output, and
# exits with 1 when any of its frames failed:
#   sbatch --array=0-99 batch.sh ROAD [-b X1 X2 Y1 Y2] --list LIST RESULTS
# Which frames failed or never ran, from those logs or from the joblog of a
# GNU parallel run of the one-frame form (the frame is the command's last
# word); exit status 1 when any did:
#   batch.sh --summary LIST RESULTS|JOBLOG
#
# The programs are taken from the folder $FITSQUAD_BIN when it is set (sbatch
# passes the variable on to the job), otherwise from PATH.
set -uo pipefail

# The usage, then exit with status $1 (0 for --help), by default 1.
usage() {
    echo "usage: batch.sh split|patch|merge|repair [-b X1 X2 Y1 Y2] FRAME"
    echo "       batch.sh split|patch|merge|repair [-b X1 X2 Y1 Y2] --list LIST RESULTS"
    echo "       batch.sh --summary LIST RESULTS|JOBLOG"
    exit "${1:-1}"
}

program() {
    local name=$1
    shift
    "${FITSQUAD_BIN:+$FITSQUAD_BIN/}$name" "$@"
}

# The road on one frame; the status of the step that failed, or 0.
run_road() {
    local frame=$1
    case $road in
        split) program quadsplit "$frame" ;;
        patch) program boxpatch -b "${box[@]}" "$frame" ;;
        merge) program quadmerge "$frame" ;;
        repair) program quadsplit "$frame" &&
                program boxpatch -b "${box[@]}" "${frame:0:${#frame}-5}.b.fits" &&
                program quadmerge "$frame" ;;
    esac
}

# The frames of a list, without blank lines.
read_list() {
    grep -v '^[[:space:]]*$' "$1"
}

# The last status of every frame that has one, "FRAME STATUS" per line, from
# a results folder's task logs or from a GNU parallel joblog (its columns are
# tab-separated: exit value 7th, signal 8th, the command 9th).
statuses() {
    if [ -d "$1" ]; then
        cat "$1"/task-*.log 2>/dev/null
    else
        awk -F '\t' 'NR > 1 { n = split($9, word, " "); print word[n], ($7 != 0 || $8 != 0) }' "$1"
    fi
}

summary() {
    local list=$1 results=$2
    [ -r "$list" ] && [ -e "$results" ] || usage
    awk 'FNR == NR { status[$1] = $2; next }
         { total++ }
         !($1 in status) { print "not run: " $1; missing++; next }
         status[$1] != 0 { print "failed: " $1; failed++ }
         END {
             printf "%d frames: %d done, %d failed, %d not run\n",
                    total, total - failed - missing, failed, missing
             exit (failed + missing > 0)
         }' <(statuses "$results") <(read_list "$list")
}

[ $# -ge 1 ] || usage
[ "$1" != --help ] || usage 0
if [ "$1" = --summary ]; then
    [ $# -eq 3 ] || usage
    summary "$2" "$3"
    exit
fi

road=$1
shift
case $road in
    split | merge) box=() ;;
    patch | repair)
        [ $# -ge 5 ] && [ "$1" = -b ] || usage
        box=("$2" "$3" "$4" "$5")
        shift 5 ;;
    *) usage ;;
esac

if [ $# -eq 1 ]; then
    run_road "$1"
    exit
fi
[ $# -eq 3 ] && [ "$1" = --list ] || usage
list=$2
results=$3
mkdir -p "$results" || exit 1
mapfile -t frames < <(read_list "$list")
[ ${#frames[@]} -gt 0 ] || { echo "batch.sh: no frames in $list"; exit 1; }

# This task's slice: task k of n gets frames k*N/n to (k+1)*N/n - 1.
task=0
tasks=1
if [ -n "${SLURM_ARRAY_TASK_ID:-}" ]; then
    task=$(( (SLURM_ARRAY_TASK_ID - SLURM_ARRAY_TASK_MIN) / ${SLURM_ARRAY_TASK_STEP:-1} ))
    tasks=$SLURM_ARRAY_TASK_COUNT
fi
first=$(( task * ${#frames[@]} / tasks ))
end=$(( (task + 1) * ${#frames[@]} / tasks ))

log=$results/task-$task.log
failed=0
for frame in "${frames[@]:first:end-first}"; do
    run_road "$frame"
    status=$?
    [ "$status" -eq 0 ] || failed=1
    echo "$frame $status" | tee -a "$log"
done
exit $failed
