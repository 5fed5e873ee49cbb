#!/usr/bin/env bash
# Runs scripts/batch.sh for real over 8 generated frames, one of them broken
# on purpose (its header cut short): as Slurm job arrays on a private
# single-node cluster started here, or with GNU parallel on this machine.
# Both roads through the frames (repair; split, patch of the channel b files,
# merge) must leave exactly the files that direct runs of the programs write,
# and every summary must name the broken frame and nothing else.
#   batch_test.sh slurm|parallel SOURCE_DIR QUADSPLIT QUADMERGE BOXPATCH FITSFRAME
# Exit status 0 passed, 1 failed, 77 skipped (the line before says why).
set -euo pipefail
runner=$1
source_dir=$2
skip=77
batch=$source_dir/scripts/batch.sh

fail() {
    echo "FAILED: $*"
    exit 1
}

case $runner in
    slurm) packages=(slurmd slurmctld slurm-client munge) ;;
    parallel) packages=(parallel) ;;
    *) fail "unknown runner $runner" ;;
esac
if [ "$runner" = slurm ] && [ "$(id -u)" != 0 ]; then
    echo "skipped: a private Slurm cluster (munged, slurmctld, slurmd; Debian packages ${packages[*]}) needs root"
    exit $skip
fi
if ! installed=$("$source_dir/scripts/need-packages.sh" "${packages[@]}"); then
    echo "$installed"
    [ "$(id -u)" = 0 ] && fail "could not install ${packages[*]}"
    echo "skipped: the $runner recipe needs Debian packages ${packages[*]}"
    exit $skip
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/fitsquad-batch.XXXXXX")
daemons=()
# A process that has not ended (a zombie has).
running() {
    local state
    state=$(cut -d ' ' -f 3 "/proc/$1/stat" 2>/dev/null) && [ "$state" != Z ]
}
# Polls a condition (a command) every 0.2 s for at most $1 seconds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}
# Stops what runs on the cluster, then the daemons, the last started first.
cleanup() {
    set +e
    if [ ${#daemons[@]} -ge 2 ] && running "${daemons[1]}"; then
        squeue -h -o %i | xargs -r scancel
        wait_for 15 queue_empty || echo "jobs still queued: $(squeue -h)"
    fi
    local i pid
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        pid=${daemons[i]}
        kill "$pid" 2>/dev/null || true
        wait_for 10 eval "! running $pid" || kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

mkdir "$tmp/bin" "$tmp/home"
for program in "${@:3}"; do
    ln -s "$program" "$tmp/bin/"
done
export FITSQUAD_BIN=$tmp/bin

# The frames, a copy of them for each road, and the files that direct runs
# of the programs make of them: only the broken frame may fail there.
mkdir -p "$tmp/direct/raw"
cd "$tmp/direct"
for seed in 1 2 3 4 5 6 7 8; do
    made=$("$FITSQUAD_BIN/fitsframe" -s 256 256 --seed $seed raw/frame$seed.fits)
    echo "raw/frame$seed.fits" >>frames.txt
    echo "raw/frame$seed.b.fits" >>channels.txt
done
read -ra box <<<"$(sed -n 's/.*boxpatch -b //p' <<<"$made")"
broken=raw/frame5
truncate -s 1000 $broken.fits
for road in repair steps; do
    cp -r "$tmp/direct" "$tmp/$road"
done
while read -r frame; do
    if ! { "$FITSQUAD_BIN/quadsplit" "$frame" && "$FITSQUAD_BIN/boxpatch" -b "${box[@]}" "${frame%.fits}.b.fits" &&
           "$FITSQUAD_BIN/quadmerge" "$frame"; } >/dev/null; then
        [ "$frame" = $broken.fits ] || fail "direct run on $frame failed"
    fi
done <frames.txt

# Each run: folder, road, list of its frames, results (a folder or a joblog);
# the steps run one after the other.
runs=(
    "repair repair frames.txt repair"
    "steps split frames.txt split"
    "steps patch channels.txt patch"
    "steps merge frames.txt merge"
)
road_args() {
    case $1 in
        patch | repair) echo "$1 -b ${box[*]}" ;;
        *) echo "$1" ;;
    esac
}

queue_empty() {
    [ -z "$(squeue -h)" ]
}
node_idle() {
    [ "$(sinfo -h -o %t 2>/dev/null)" = idle ]
}
# A TCP port that nothing listens on.
free_port() {
    local port
    while port=$((20000 + RANDOM % 10000)); (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do :; done
    echo $port
}

if [ "$runner" = slurm ]; then
    cluster=$tmp/cluster
    mkdir -p "$cluster/state" "$cluster/spool" "$cluster/munge"
    chmod 711 "$tmp" "$cluster" "$cluster/munge"  # munged wants its socket's folder open to all
    mungekey -c -k "$cluster/munge/key"
    munged -F --key-file="$cluster/munge/key" --socket="$cluster/munge/socket" \
        --pid-file="$cluster/munge/pid" --log-file="$cluster/munge/log" \
        --seed-file="$cluster/munge/seed" >"$cluster/munged.out" 2>&1 &
    daemons+=($!)
    node=$(hostname -s)
    controller_port=$(free_port)
    node_port=$(free_port)
    [ "$node_port" != "$controller_port" ] || node_port=$(free_port)
    export SLURM_CONF=$cluster/slurm.conf
    cat >"$SLURM_CONF" <<EOF
ClusterName=fitsquadtest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$controller_port
SlurmdPort=$node_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$cluster/munge/socket
CredType=cred/munge
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/slurmctld.log
SlurmdLogFile=$cluster/slurmd.log
MailProg=/bin/true
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc)
PartitionName=batch Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
    wait_for 10 test -S "$cluster/munge/socket" || fail "munged did not start: $(cat "$cluster/munged.out")"
    slurmctld -D >"$cluster/slurmctld.out" 2>&1 &
    daemons+=($!)
    slurmd -D -N "$node" >"$cluster/slurmd.out" 2>&1 &
    daemons+=($!)
    wait_for 30 node_idle || fail "the cluster did not come up: $(tail -n 5 "$cluster"/slurm*.log)"

    # Each run is a job array of 3 tasks and a summary job after it; the
    # steps one after the other.
    previous=
    arrays=()
    for run in "${runs[@]}"; do
        read -r folder road list results <<<"$run"
        cd "$tmp/$folder"
        after=${previous:+--dependency=afterany:$previous}
        # shellcheck disable=SC2046,SC2086  # the road and its box; no dependency
        previous=$(sbatch --parsable $after --array=1-3 "$batch" $(road_args "$road") --list "$list" "$results")
        arrays+=("$previous")
        sbatch --parsable --dependency=afterany:"$previous" --output="$results.summary" \
            "$batch" --summary "$list" "$results" >/dev/null
        [ "$folder" = steps ] || previous=
    done
    wait_for 120 queue_empty || fail "jobs not done in 120 s: $(squeue)"
    # Every frame logged once, only the task with the broken frame failed,
    # and in its output the programs' lines come before the frame's line.
    for i in "${!runs[@]}"; do
        read -r folder road list results <<<"${runs[i]}"
        logged=$(cat "$tmp/$folder/$results"/task-*.log | wc -l)
        [ "$logged" = 8 ] || fail "$road: $logged log lines for 8 frames"
        states=$(scontrol -o show job "${arrays[i]}" | grep -o 'JobState=[A-Z]*' | sort | uniq -c | xargs)
        [ "$states" = "2 JobState=COMPLETED 1 JobState=FAILED" ] || fail "$road: tasks $states"
    done
    before=$(grep -h -x -B1 "$broken.fits 1" "$tmp/repair"/slurm-*.out | head -n 1)
    [[ -n $before && $before != *" "[01] ]] || fail "no program line before the broken frame's: $before"
else
    for run in "${runs[@]}"; do
        read -r folder road list results <<<"$run"
        cd "$tmp/$folder"
        # shellcheck disable=SC2046  # the road and its box
        HOME=$tmp/home timeout 120 parallel -j 2 --joblog "$results" \
            "$batch" $(road_args "$road") {} :::: "$list" >/dev/null || [ $? = 1 ] ||
            fail "$road: parallel did not end with one failed job"
        ! "$batch" --summary "$list" "$results" >"$results.summary" || fail "$road: summary exit status 0"
    done
fi

# The files every road left, against the direct runs, and the summaries.
for folder in repair steps; do
    diff -r "$tmp/direct/raw" "$tmp/$folder/raw" || fail "$folder: files differ from direct runs"
done
for run in "${runs[@]}"; do
    read -r folder road list results <<<"$run"
    failed=$broken.fits
    [ "$list" = frames.txt ] || failed=$broken.b.fits
    printf 'failed: %s\n8 frames: 7 done, 1 failed, 0 not run\n' "$failed" |
        diff - "$tmp/$folder/$results.summary" || fail "$road: summary"
done
# A frame of the list that no run has seen.
cd "$tmp/repair"
{ cat frames.txt; echo raw/never.fits; } >more.txt
printf 'failed: %s\nnot run: raw/never.fits\n9 frames: 7 done, 1 failed, 1 not run\n' $broken.fits >expected
! "$batch" --summary more.txt repair >got || fail "summary exit status 0"
diff expected got || fail "summary of a frame not run"
echo "passed: $runner, ${#runs[@]} runs over 8 frames"
