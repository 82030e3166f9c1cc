# shellcheck shell=bash
# A throwaway single-node Slurm for tests and benchmarks, from Debian's slurm-wlm
# and munge, run as root. Source this file, then:
#   slurm_start   munged, slurmctld and slurmd with their key, sockets, state
#                 and logs in a new folder under /tmp ($slurm_dir), on free
#                 ports, SLURM_CONF exported; returns 1 with the reason on
#                 stderr when they cannot start or the node does not become idle.
#   slurm_stop    cancels every job, waits for an empty queue, stops the
#                 daemons by process id and removes the folder.
slurm_pids=()
slurm_dir=""

slurm_start() {
  local command
  [[ $(id -u) -eq 0 ]] || { echo "the daemons run as root" >&2; return 1; }
  for command in munged mungekey slurmctld slurmd sbatch squeue sinfo scancel scontrol; do
    command -v "$command" >/dev/null || { echo "no $command (scripts/install-deps.sh installs slurm-wlm and munge)" >&2; return 1; }
  done
  # munged refuses a socket folder others cannot enter and a key others can read.
  slurm_dir=$(mktemp -d /tmp/slurm.XXXXXX) && chmod 711 "$slurm_dir" || return 1
  mkdir -m 700 "$slurm_dir/key" "$slurm_dir/state" "$slurm_dir/spool" "$slurm_dir/log" || return 1
  mkdir -m 755 "$slurm_dir/munge" || return 1
  mungekey --create --keyfile="$slurm_dir/key/munge.key" || return 1
  munged -F --socket="$slurm_dir/munge/socket" --key-file="$slurm_dir/key/munge.key" \
    --pid-file="$slurm_dir/key/pid" --seed-file="$slurm_dir/key/seed" \
    --log-file="$slurm_dir/log/munged.log" >"$slurm_dir/log/munged.err" 2>&1 &
  slurm_pids+=($!)
  local ports
  ports=$(/usr/bin/python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))') || return 1
  export SLURM_CONF=$slurm_dir/slurm.conf
  cat >"$SLURM_CONF" <<EOF
ClusterName=stviewtest
SlurmctldHost=$(hostname -s)(127.0.0.1)
SlurmUser=root
SlurmctldPort=${ports% *}
SlurmdPort=${ports#* }
AuthType=auth/munge
AuthInfo=socket=$slurm_dir/munge/socket
CredType=cred/munge
StateSaveLocation=$slurm_dir/state
SlurmdSpoolDir=$slurm_dir/spool
SlurmctldPidFile=$slurm_dir/state/slurmctld.pid
SlurmdPidFile=$slurm_dir/spool/slurmd.pid
SlurmctldLogFile=$slurm_dir/log/slurmctld.log
SlurmdLogFile=$slurm_dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
ReturnToService=2
MpiDefault=none
KillWait=5
$(slurmd -C | head -n 1) NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=main Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
  local _
  for _ in $(seq 50); do [[ -S "$slurm_dir/munge/socket" ]] && break; sleep 0.1; done
  [[ -S "$slurm_dir/munge/socket" ]] || { echo "munged: $(cat "$slurm_dir/log/munged.err")" >&2; return 1; }
  slurmctld -D -c -f "$SLURM_CONF" >"$slurm_dir/log/slurmctld.err" 2>&1 &
  slurm_pids+=($!)
  slurmd -D -f "$SLURM_CONF" >"$slurm_dir/log/slurmd.err" 2>&1 &
  slurm_pids+=($!)
  for _ in $(seq 60); do [[ "$(sinfo --noheader --format=%T 2>/dev/null)" == idle ]] && return 0; sleep 0.5; done
  echo "the node is not idle: $(sinfo 2>&1; tail -n 3 "$slurm_dir"/log/*)" >&2
  return 1
}

slurm_stop() {
  local i _
  if [[ ${#slurm_pids[@]} -ge 2 ]]; then
    scancel --user="$(id -un)" 2>/dev/null
    for _ in $(seq 60); do [[ -z "$(squeue --noheader 2>/dev/null)" ]] && break; sleep 0.5; done
  fi
  for ((i = ${#slurm_pids[@]} - 1; i >= 0; i--)); do
    kill "${slurm_pids[$i]}" 2>/dev/null && wait "${slurm_pids[$i]}" 2>/dev/null
  done
  slurm_pids=()
  [[ -z "$slurm_dir" ]] || rm -rf -- "$slurm_dir"
  return 0
}
