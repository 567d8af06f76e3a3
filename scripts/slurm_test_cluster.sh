#!/usr/bin/env bash
# A throw-away one-node Slurm cluster for tests, with every file in one temporary folder:
#   scripts/slurm_test_cluster.sh start DIR   # prints the slurm.conf path once the node is idle
#   scripts/slurm_test_cluster.sh stop DIR    # stops the daemons started in DIR
# Needs Debian's slurm-wlm and munge. The daemons run as the calling user (root in CI; munged
# then runs as the munge user); commands reach the cluster with SLURM_CONF=DIR/slurm.conf.
set -euo pipefail
action=${1:-}
dir=${2:-}
if [ -z "$dir" ] || { [ "$action" != start ] && [ "$action" != stop ]; }; then
    echo "usage: $0 start|stop DIR" >&2
    exit 2
fi

stop() {
    munge_dir=$(cat "$dir/munge.path" 2>/dev/null || true)
    for pidfile in "$dir/slurmd.pid" "$dir/slurmctld.pid" ${munge_dir:+"$munge_dir/munged.pid"}; do
        [ -s "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$pidfile"
    done
    case "$munge_dir" in /tmp/vemlo-munge.*) rm -rf "$munge_dir" ;; esac
}

if [ "$action" = stop ]; then
    stop
    exit 0
fi

for tool in munged slurmctld slurmd sbatch scontrol sinfo; do
    command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin
    command -v "$tool" >/dev/null || { echo "missing $tool (Debian slurm-wlm, munge)" >&2; exit 3; }
done
mkdir -p "$dir"/{state,spool}
dir=$(cd "$dir" && pwd)
user=$(id -un)

# munge: a fresh key in a folder of its own (DIR may be closed to other users); as root the
# daemon runs as the munge user, as everyone else as oneself.
munge_dir=$(mktemp -d /tmp/vemlo-munge.XXXXXX)
echo "$munge_dir" > "$dir/munge.path"
dd if=/dev/urandom of="$munge_dir/munge.key" bs=1024 count=1 status=none
chmod 400 "$munge_dir/munge.key"
run_munge=()
if [ "$(id -u)" -eq 0 ] && id munge >/dev/null 2>&1; then
    chown -R munge: "$munge_dir"
    run_munge=(runuser -u munge --)
fi
"${run_munge[@]}" munged --force --key-file="$munge_dir/munge.key" \
    --socket="$munge_dir/munge.socket" --pid-file="$munge_dir/munged.pid" \
    --log-file="$munge_dir/munged.log" --seed-file="$munge_dir/munged.seed"

# Two free ports for the controller and the node daemon.
read -r ctl_port node_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
host=$(hostname -s)
cat > "$dir/slurm.conf" <<CONF
ClusterName=vemlotest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctl_port
SlurmdPort=$node_port
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$munge_dir/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
ReturnToService=2
SlurmdParameters=config_overrides
NodeName=vemlonode NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=vemlonode Default=YES MaxTime=INFINITE State=UP
CONF
: > "$dir/plugstack.conf"
export SLURM_CONF=$dir/slurm.conf
trap 'stop' ERR
slurmctld -i
slurmd -N vemlonode

for _ in $(seq 300); do
    state=$(timeout 5 sinfo -h -n vemlonode -o %t 2>/dev/null || true)
    if [ "$state" = idle ]; then
        echo "$SLURM_CONF"
        exit 0
    fi
    sleep 0.2
done
echo "the test cluster did not come up; logs in $dir" >&2
stop
exit 1
