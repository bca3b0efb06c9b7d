#!/usr/bin/env bash
# A render in parts on the schedulers people run, on this one machine:
#  - Slurm: a one-node cluster (slurmctld and slurmd on localhost, configured
#    in a throwaway folder; munge with the machine's key, made when there is
#    none, and started when it is not running), the parts as an array job
#    (sbatch --array=1-N) and the join as a job that waits for all of them
#    (--dependency=afterok);
#  - GNU parallel across machines: the parts sent over ssh (an sshd of our
#    own on a local port, with a key made for it) to a login whose work
#    folder is elsewhere, so the clips are sent and the parts returned as
#    they would be between two machines.
# Each joined movie is compared with the render in one piece.
#   tests/scripts/cluster.sh TAVHOST [PARTS]
set -euo pipefail
tavhost=$(realpath "$1")
parts=${2:-4}
work=$(mktemp -d /tmp/tav-cluster.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}" $(cat "$work"/slurm/*.pid 2>/dev/null); do kill "$p" 2>/dev/null || true; done
  sleep 1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
fail() { echo "cluster: $*" >&2; exit 1; }
cd "$work"

for i in 1 2 3; do
  ffmpeg -v error -f lavfi -i "testsrc2=s=160x96:r=25:d=2,hue=h=$((i * 90))" \
    -f lavfi -i "sine=f=$((220 + i * 150)):d=2" -c:v libx264 -preset ultrafast -c:a aac "c$i.mp4"
done
args="boxscatter --crf 0 --seed 8 --length 10f --open boxrevealwhite c1.mp4 c2.mp4 c3.mp4"
# shellcheck disable=SC2086
"$tavhost" render $args --quiet -o whole.mp4
pictures() { ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | awk '{print $NF}'; }
sound() { ffmpeg -v error -i "$1" -map 0:a -c copy -f md5 -; }
same() {
  [ "$(pictures "$1")" = "$(pictures whole.mp4)" ] || fail "$2: the pictures differ from the whole render's"
  [ "$(sound "$1")" = "$(sound whole.mp4)" ] || fail "$2: the sound differs from the whole render's"
  echo "cluster: $2: $parts parts joined into the whole render"
}

# --- Slurm ---
host=$(hostname -s)
mkdir -p slurm/state slurm/spool slurm/log
if [ ! -s /etc/munge/munge.key ]; then
  mkdir -p /etc/munge
  dd if=/dev/urandom of=/etc/munge/munge.key bs=1024 count=1 status=none
  chown munge:munge /etc/munge/munge.key
  chmod 400 /etc/munge/munge.key
fi
mkdir -p /run/munge && chown munge:munge /run/munge
if ! pgrep -x munged >/dev/null; then
  runuser -u munge -- /usr/sbin/munged
  pids+=("$(cat /run/munge/munged.pid)")
fi
cat >slurm/slurm.conf <<EOF
ClusterName=tav
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
AuthType=auth/munge
StateSaveLocation=$work/slurm/state
SlurmdSpoolDir=$work/slurm/spool
SlurmctldPidFile=$work/slurm/slurmctld.pid
SlurmdPidFile=$work/slurm/slurmd.pid
SlurmctldLogFile=$work/slurm/log/slurmctld.log
SlurmdLogFile=$work/slurm/log/slurmd.log
SlurmctldPort=16817
SlurmdPort=16818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=tav Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm/slurm.conf
slurmctld -i -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
for _ in $(seq 60); do
  sinfo -h -o %T 2>/dev/null | grep -qE '^(idle|mixed|allocated)' && break
  sleep 1
done
sinfo -h -o %T | grep -qE '^(idle|mixed|allocated)' || fail "the Slurm node did not come up ($(sinfo -h -o %T 2>&1))"

# As the README gives it: the parts as an array job, the join after it.
log=$work/slurm/log
array=$(sbatch --parsable --chdir="$work" --output="$log/part-%a.out" --array=1-"$parts" \
  --wrap "'$tavhost' render $args --quiet --part \$SLURM_ARRAY_TASK_ID/$parts -o slurm-part\$SLURM_ARRAY_TASK_ID.mkv")
sbatch --parsable --wait --chdir="$work" --output="$log/join.out" --dependency=afterok:"$array" \
  --wrap "'$tavhost' join --quiet slurm-part*.mkv -o slurm-joined.mp4" >/dev/null ||
  fail "the join job failed: $(cat "$log"/join.out "$log"/part-*.out 2>/dev/null | head -5)"
same slurm-joined.mp4 "Slurm array job $array"

# --- GNU parallel over ssh ---
mkdir -p ssh remote
ssh-keygen -q -t ed25519 -N "" -f ssh/host_key
ssh-keygen -q -t ed25519 -N "" -f ssh/id
cat >ssh/sshd_config <<EOF
Port 12222
ListenAddress 127.0.0.1
HostKey $work/ssh/host_key
AuthorizedKeysFile $work/ssh/id.pub
PasswordAuthentication no
PermitRootLogin prohibit-password
StrictModes no
PidFile $work/ssh/sshd.pid
EOF
mkdir -p /run/sshd
/usr/sbin/sshd -D -f ssh/sshd_config &
pids+=($!)
login="ssh -p 12222 -i $work/ssh/id -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR root@127.0.0.1"
for _ in $(seq 20); do $login true 2>/dev/null && break; sleep 0.5; done
$login true || fail "cannot log in over ssh to the local sshd"
# The remote side works in its own folder: the clips go there, the parts come back.
# shellcheck disable=SC2086
parallel --will-cite --halt now,fail=1 -S "$login" --workdir "$work/remote" \
  --basefile c1.mp4 --basefile c2.mp4 --basefile c3.mp4 --return ssh-part{}.mkv --cleanup \
  "$tavhost" render $args --quiet --part {}/"$parts" -o ssh-part{}.mkv ::: $(seq "$parts")
"$tavhost" join --quiet ssh-part*.mkv -o ssh-joined.mp4
same ssh-joined.mp4 "GNU parallel over ssh"
