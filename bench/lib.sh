# Functions of bench/run.sh: packages, builds, data, servers, timing and the scenarios.
# Sourced, not run. Expects ROOT, BENCH, OUT, RESULTS, RUNS, KEY and the size variables.

BIN="$OUT/bin"
DATA="$OUT/data"
WWW="$OUT/www"
SCRATCH="$OUT/run"
LOGS="$OUT/logs"
NGINX_PREFIX="$OUT/nginx"
NGINX_PID=""
WINESERVER_PID=""
XVFB_PID=""
MINGW=x86_64-w64-mingw32-g++-posix
declare -A PORT

bench_install_packages() {
    orvantis_install_packages
    orvantis_forget_moved_builds
    local extra=(aria2 curl inotify-tools time nginx xvfb) missing=() p
    for p in "${extra[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# The floor programs use the platform alone, so they build straight from their sources.
bench_build_floors() {
    mkdir -p "$BIN" "$LOGS"
    local F="$BENCH/floor" flags=(-O2 -static -municode -Wall -Wextra -Werror)
    build_one() {
        local exe="$BIN/$1" src="$F/$2"
        shift 2
        if [ ! -e "$exe" ] || [ "$src" -nt "$exe" ] || [ "$F/floor_common.h" -nt "$exe" ]; then
            "$MINGW" "${flags[@]}" -o "$exe" "$src" "$@"
        fi
    }
    build_one empty.exe empty.cpp
    build_one attr_floor.exe attr_floor.cpp
    build_one hash_floor.exe hash_floor.cpp -lbcrypt
    build_one fetch_floor.exe fetch_floor.cpp -lwinhttp -lbcrypt
    build_one window_empty.exe window_empty.cpp -mwindows -lcomctl32
    build_one peak_memory.exe peak_memory.cpp -lpsapi
    build_one read_probe.exe read_probe.cpp -lbcrypt
}

# The real launcher, built (or brought up to date) with the project's own preset.
bench_build_launcher() {
    (cd "$ROOT" && cmake --preset windows >"$LOGS/launcher-configure.log" 2>&1 &&
        cmake --build --preset windows --target OrvantisKesh launcher_phases -j 2 >"$LOGS/launcher-build.log" 2>&1) ||
        { echo "error: the launcher did not build (see $LOGS/launcher-build.log); --no-launcher measures the rest" >&2
          return 1; }
    LAUNCHER="$ROOT/build/windows/OrvantisKesh.exe"
}

bench_build_publisher() {
    (cd "$ROOT" && cmake --preset host >"$LOGS/publisher-configure.log" 2>&1 &&
        cmake --build --preset host --target orvantis-publish -j 2 >"$LOGS/publisher-build.log" 2>&1) || true
    local p
    p="$(find "$ROOT/build/host" -name orvantis-publish -type f -perm -u+x 2>/dev/null | head -1)"
    if [ -n "$p" ]; then
        PUBLISHER="$p"
    else
        echo "warning: no orvantis-publish: the publisher scenario is skipped and packs are made by bench/gen.py" >&2
    fi
}

# Data sets are made once per size and kept: they take minutes at full size.
bench_generate() {
    local stamp="v2 $TREE_FILES $TREE_FOLDERS $TREE_MIN $TREE_MAX $A_FILES $B_FILES $B_SIZE $B2_FILES $C_FILES $C2_FILES"
    local g="$BENCH/gen.py" s
    if [ -f "$DATA/.stamp" ] && [ "$(cat "$DATA/.stamp")" = "$stamp" ]; then
        echo "== Data sets: kept from an earlier run =="
    else
        echo "== Data sets =="
        rm -rf "$DATA" "$WWW"
        mkdir -p "$DATA" "$WWW"
        python3 "$g" tree "$DATA/tree" --files "$TREE_FILES" --folders "$TREE_FOLDERS" \
            --min-size "$TREE_MIN" --max-size "$TREE_MAX" --seed 1
        python3 "$g" tree "$DATA/a" --files "$A_FILES" --folders 20 --min-size 262144 --max-size 262144 --seed 2
        python3 "$g" tree "$DATA/b" --files "$B_FILES" --folders 1 --min-size "$B_SIZE" --max-size "$B_SIZE" --seed 3
        python3 "$g" tree "$DATA/b2" --files "$B2_FILES" --folders 1 --min-size "$B_SIZE" --max-size "$B_SIZE" --seed 4
        python3 "$g" tree "$DATA/c" --files "$C_FILES" --folders 50 --min-size "$C_MIN" --max-size "$C_MAX" --seed 5
        python3 "$g" tree "$DATA/c2" --files "$C2_FILES" --folders 200 --min-size "$C_MIN" --max-size "$C_MAX" --seed 6
        for s in tree a b b2; do
            python3 "$g" release "$DATA/$s" "$WWW/$s" "$KEY"
        done
        python3 "$g" release "$DATA/c" "$WWW/c-alone" "$KEY"
        echo "$stamp" >"$DATA/.stamp"
    fi
    # The packed releases are made again when the tool that packs them changes.
    local packer="gen.py"
    [ -z "$PUBLISHER" ] || packer="publisher $(stat -c %Y "$PUBLISHER")"
    for s in c c2; do
        if [ "$(cat "$WWW/$s/.packer" 2>/dev/null)" != "$packer" ]; then
            rm -rf "${WWW:?}/$s"
            bench_publish_packed "$s"
            echo "$packer" >"$WWW/$s/.packer"
        fi
    done
}

# A release whose small files travel in packs: the publisher's own when it is built.
bench_publish_packed() {
    local s="$1"
    if [ -n "$PUBLISHER" ]; then
        bench_publisher_release "$DATA/$s" "$WWW/$s"
    else
        python3 "$BENCH/gen.py" release "$DATA/$s" "$WWW/$s" "$KEY" --pack
    fi
}

bench_free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

bench_start_servers() {
    echo "== Servers: Xvfb, wineserver, nginx =="
    local n
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
            XVFB_PID=$!
            export DISPLAY=":$n"
            break
        fi
    done
    [ -n "$XVFB_PID" ] || { echo "error: no free X display" >&2; return 1; }
    for n in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

    export WINEPREFIX="$OUT/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    mkdir -p "$WINEPREFIX"
    bench_start_wineserver
    # A virtual desktop: under a bare Xvfb (no window manager) Wine's X11 driver waits 2 s for
    # a window manager that never acknowledges the closing of a window, in every window program.
    # That wait belongs to the test display, not to Windows nor to the launcher.
    # Wine's desktop process reads this setting when it starts, and the first Wine start of a
    # prefix (its wineboot) has started it already: in a new prefix (a fresh clone) the
    # setting would not hold until the server and the desktop start again. So they do, and the
    # desktop's window is looked for before anything is measured.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f </dev/null >/dev/null 2>&1
    bench_stop_wineserver
    bench_start_wineserver
    if ! xwininfo -root -tree 2>/dev/null | grep -q '"Default - Wine desktop"'; then
        echo "error: Wine's virtual desktop is not on display $DISPLAY; window programs would carry a 2 s wait" >&2
        return 1
    fi

    rm -f "$NGINX_PREFIX"/*.access.log
    mkdir -p "$NGINX_PREFIX"
    local specs=() s
    for s in $(ls "$WWW"); do
        PORT[$s]="$(bench_free_port)"
        specs+=("$s=${PORT[$s]}:$WWW/$s")
    done
    python3 "$BENCH/gen.py" nginx "$NGINX_PREFIX" "${specs[@]}"
    nginx -p "$NGINX_PREFIX" -c "$NGINX_PREFIX/nginx.conf" -g 'daemon off;' </dev/null >"$LOGS/nginx.log" 2>&1 &
    NGINX_PID=$!
    # Every release must be served before anything is timed: a launcher that finds no server
    # ends "ready" with the files it has, and its times would look like a very fast update.
    local ok
    for s in "${!PORT[@]}"; do
        ok=0
        for n in $(seq 1 100); do
            curl -sf -o /dev/null "http://127.0.0.1:${PORT[$s]}/update/manifest.json" && { ok=1; break; }
            kill -0 "$NGINX_PID" 2>/dev/null || break
            sleep 0.1
        done
        if [ $ok -eq 0 ]; then
            echo "error: nginx does not serve release $s on port ${PORT[$s]}; see $LOGS/nginx.log:" >&2
            tail -3 "$LOGS/nginx.log" >&2
            return 1
        fi
    done
}

# In the foreground (-f) so that its PID is ours to stop; persistent (-p) so every Wine start
# below finds it running, as on a machine where Wine is already up.
bench_start_wineserver() {
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    WINESERVER_PID=$!
    sleep 0.5 # let it take the prefix before the first client looks for a server
    wine wineboot </dev/null >/dev/null 2>&1 || true
}

bench_stop_wineserver() {
    if [ -n "$WINESERVER_PID" ]; then
        wineserver -k >/dev/null 2>&1 || true # our own prefix only
        local i
        for i in $(seq 1 50); do kill -0 "$WINESERVER_PID" 2>/dev/null || break; sleep 0.1; done
        kill "$WINESERVER_PID" 2>/dev/null || true
        wait "$WINESERVER_PID" 2>/dev/null || true
        WINESERVER_PID=""
    fi
}

bench_cleanup() {
    [ -n "$NGINX_PID" ] && { kill -QUIT "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; }
    bench_stop_wineserver
    [ -n "$XVFB_PID" ] && { kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; }
    return 0
}

# Windows path of a Linux path (Wine maps / to Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

record() { printf '%s\t%s\n' "$1" "$2" >>"$RESULTS"; }

# time_it KEY COMMAND...: runs the command once and records its wall time in seconds.
time_it() {
    local key="$1"
    shift
    local t0 t1 rc=0
    t0=$(date +%s%N)
    "$@" >>"$LOGS/$key.log" 2>&1 || rc=$?
    t1=$(date +%s%N)
    if [ $rc -ne 0 ]; then
        echo "error: $key failed (exit $rc); see $LOGS/$key.log" >&2
        return $rc
    fi
    record "$key" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')"
}

# A verify-only run of the launcher copied into FOLDER against the release on PORT.
launcher_run() {
    local folder="$1" port="$2"
    rm -f "$folder/orvantis_verify.result"
    wine "$folder/OrvantisKesh.exe" --server "127.0.0.1:$port" --yes --verify-only </dev/null
    local rc=$? result
    result="$(cat "$folder/orvantis_verify.result" 2>/dev/null || true)"
    if [ $rc -ne 0 ] || [ "$result" != "ready" ]; then
        echo "launcher in $folder: exit $rc, result '$result'" >&2
        tail -5 "$folder/orvantis_update.log" >&2 2>/dev/null || true
        return 1
    fi
}

fresh_folder() {
    rm -rf "$1"
    mkdir -p "$1"
    if [ -n "$LAUNCHER" ]; then cp "$LAUNCHER" "$1/OrvantisKesh.exe"; fi
}

bytes_of() { awk '{ s += $2 } END { print s + 0 }' "$DATA/$1.objects"; }
requests_of() { wc -l <"$NGINX_PREFIX/$1.access.log" 2>/dev/null || echo 0; }

bench_warm_page_cache() {
    # Every scenario reads the folder from memory; the disk is not what is measured.
    (cd "$1" && xargs -d '\n' -a "$1.list" cat >/dev/null)
}

# The game folder of the check scenarios: hard links to the release tree, plus the launcher.
GAME=""
bench_game_folder() {
    GAME="$SCRATCH/game"
    if [ ! -d "$GAME/Data" ]; then
        rm -rf "$GAME"
        mkdir -p "$SCRATCH"
        cp -al "$DATA/tree" "$GAME"
    fi
    if [ -n "$LAUNCHER" ]; then cp "$LAUNCHER" "$GAME/OrvantisKesh.exe"; fi
}

bench_cold() {
    echo "== Cold check: hashing the whole folder =="
    record tree_bytes "$(bytes_of tree)"
    record tree_files "$(wc -l <"$DATA/tree.list")"
    local r line mode
    for r in $(seq "$RUNS"); do
        line="$(wine "$BIN/hash_floor.exe" "$HASH_MIB" </dev/null)"
        echo "$line" >>"$LOGS/hash_floor.log"
        record bcrypt_mbps "$(sed -n 's/.*mbps=\([0-9.]*\).*/\1/p' <<<"$line")"
        time_it sha256sum_s bash -c "cd '$DATA/tree' && xargs -d '\n' -a '$DATA/tree.list' sha256sum >/dev/null"
        # Diagnosis: the same reads and hashes with one buffer for the whole run, and with a
        # fresh 1 MiB buffer per file (which Wine's ReadFile faults in page by page).
        for mode in reuse fresh; do
            line="$(wine "$BIN/read_probe.exe" "$(winpath "$DATA/tree")" "$(winpath "$DATA/tree.list")" $mode </dev/null)"
            echo "$mode $line" >>"$LOGS/read_probe.log"
            record "probe_${mode}_mbps" "$(sed -n 's/.*mbps=\([0-9.]*\).*/\1/p' <<<"$line")"
        done
    done
    [ -n "$LAUNCHER" ] || return 0
    bench_game_folder
    for r in $(seq "$RUNS"); do
        rm -f "$GAME/orvantis_update.cache"
        time_it cold_s launcher_run "$GAME" "${PORT[tree]}"
    done
    rm -f "$GAME/orvantis_update.cache"
    python3 "$BENCH/timeline.py" "$GAME" "$NGINX_PREFIX/tree.access.log" -- \
        wine "$GAME/OrvantisKesh.exe" --server "127.0.0.1:${PORT[tree]}" --yes --verify-only >"$OUT/timeline-cold.txt"
}

bench_warm() {
    echo "== Warm start: nothing to do =="
    record tree_files "$(wc -l <"$DATA/tree.list")"
    bench_game_folder
    local r line list_w folder_w t0 t1
    list_w="$(winpath "$DATA/tree.list")"
    folder_w="$(winpath "$GAME")"
    for r in $(seq "$RUNS"); do
        t0=$(date +%s%N)
        line="$(wine "$BIN/attr_floor.exe" "$folder_w" "$list_w" </dev/null)"
        t1=$(date +%s%N)
        record attr_s "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", (b - a) / 1e9 }')"
        record attr_loop_s "$(sed -n 's/.*loop_s=\([0-9.]*\).*/\1/p' <<<"$line")"
        line="$(wine "$BIN/attr_floor.exe" "$folder_w" "$list_w" fullpath </dev/null)"
        record attr_fullpath_loop_s "$(sed -n 's/.*loop_s=\([0-9.]*\).*/\1/p' <<<"$line")"
    done
    [ -n "$LAUNCHER" ] || return 0
    # A complete cache first (the cold scenario leaves one; this run makes sure of it).
    [ -f "$GAME/orvantis_update.cache" ] || launcher_run "$GAME" "${PORT[tree]}" >>"$LOGS/warm_s.log" 2>&1
    launcher_run "$GAME" "${PORT[tree]}" >>"$LOGS/warm_s.log" 2>&1
    for r in $(seq "$RUNS"); do
        time_it warm_s launcher_run "$GAME" "${PORT[tree]}"
    done
    # Where the time goes, from inside: the launcher's own functions timed one by one.
    local phases="$ROOT/build/windows/bench/launcher_phases.exe"
    if [ -z "$LAUNCHER_GIVEN" ] && [ -f "$phases" ]; then
        wine "$phases" "$(winpath "$GAME")" "$(winpath "$WWW/tree/update/manifest.json")" \
            "$(winpath "$WWW/tree/update/manifest.json.sig")" "$RUNS" </dev/null >"$OUT/phases-warm.txt" ||
            echo "warning: launcher_phases failed (see $OUT/phases-warm.txt)" >&2
        awk 'NF == 2 { print "phase_" $1 "\t" $2 }' "$OUT/phases-warm.txt" >>"$RESULTS"
    fi
    # Where the time goes, from outside: when the launcher touches its own files.
    python3 "$BENCH/timeline.py" "$GAME" "$NGINX_PREFIX/tree.access.log" -- \
        wine "$GAME/OrvantisKesh.exe" --server "127.0.0.1:${PORT[tree]}" --yes --verify-only >"$OUT/timeline-warm.txt"
    bench_warm_proofs
}

# Lists the game files (paths of the release) that were opened or read while COMMAND ran.
opened_game_files() {
    local events="$SCRATCH/inotify.events"
    rm -f "$events"
    inotifywait -m -r -q -e open -e access --format '%w%f' -o "$events" "$GAME" &
    local watcher=$!
    sleep 1 # inotifywait sets its watches after it starts
    "$@" >>"$LOGS/proofs.log" 2>&1 || { kill "$watcher"; wait "$watcher" 2>/dev/null; return 1; }
    sleep 0.3
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    # Only the release's own files count; the launcher's cache, log and result are its to write.
    sed "s|^$GAME/||" "$events" | sort -u | grep -Fxf "$DATA/tree.list" || true
}

bench_warm_proofs() {
    echo "== Warm start: proof that no game file is opened =="
    local probe probe2 seen
    probe="$(sed -n '2p' "$DATA/tree.list")"
    probe2="$(sed -n '3p' "$DATA/tree.list")"
    # Control: a file whose last-write time moved must be read again, and the watch must see it.
    # Without this, a watch that saw nothing under Wine would prove nothing.
    touch "$GAME/$probe"
    seen="$(opened_game_files launcher_run "$GAME" "${PORT[tree]}")"
    record proof_control_opened "$(grep -c . <<<"$seen" || true)"
    record proof_control_is_probe "$([ "$seen" = "$probe" ] && echo 1 || echo 0)"
    seen="$(opened_game_files launcher_run "$GAME" "${PORT[tree]}")"
    record proof_warm_opened "$(grep -c . <<<"$seen" || true)"
    [ -z "$seen" ] || echo "warm run opened: $seen" >&2
    # Second proof, without inotify: the content of a file changes but its size and last-write
    # time stay those of its cache record. A run that read the file would find the wrong hash
    # and download it again; an untouched wrong file after a "ready" run shows it was not read.
    local f="$GAME/$probe2"
    cp "$f" "$f.tmp" && mv "$f.tmp" "$f" # a file of its own, no longer a link into the release
    printf 'X' | dd of="$f" bs=1 seek=40 conv=notrunc status=none
    touch -r "$DATA/tree/$probe2" "$f"
    local before after
    before="$(sha256sum <"$f")"
    launcher_run "$GAME" "${PORT[tree]}" >>"$LOGS/proofs.log" 2>&1
    after="$(sha256sum <"$f")"
    record proof_tampered_untouched "$([ "$before" = "$after" ] && echo 1 || echo 0)"
    rm -f "$f" && ln "$DATA/tree/$probe2" "$f"
}

# curl and aria2c inputs for a release's objects, each written to its path under DEST.
peer_inputs() {
    local s="$1" port="$2" dest="$3"
    awk -v p="$port" -v d="$dest" '{ printf "http://127.0.0.1:%s/update/files/%s\n  out=%s\n", p, $1, $3 }' \
        "$DATA/$s.objects" >"$SCRATCH/$s.aria2"
    awk -v p="$port" -v d="$dest" '{ printf "url = \"http://127.0.0.1:%s/update/files/%s\"\noutput = \"%s/%s\"\n", p, $1, d, $3 }' \
        "$DATA/$s.objects" >"$SCRATCH/$s.curl"
}

aria2_get() {
    aria2c -q -j8 --file-allocation=none --allow-overwrite=true --auto-file-renaming=false \
        --max-connection-per-server=1 -d "$2" -i "$SCRATCH/$1.aria2"
}
curl_get() { curl -sSf --parallel --parallel-max 8 --create-dirs -K "$SCRATCH/$1.curl"; }

bench_install() {
    echo "== First install from nginx on loopback =="
    mkdir -p "$SCRATCH"
    local s r before dest="$SCRATCH/install"
    for s in a b c; do
        record "bytes_$s" "$(bytes_of "$s")"
        record "objects_$s" "$(wc -l <"$DATA/$s.objects")"
        peer_inputs "$s" "${PORT[$s]}" "$dest"
        for r in $(seq "$RUNS"); do
            rm -rf "$dest" && mkdir -p "$dest"
            time_it "floor_${s}_s" wine "$BIN/fetch_floor.exe" 127.0.0.1 "${PORT[$s]}" \
                "$(winpath "$DATA/$s.objects")" "$(winpath "$dest")" 8
            rm -rf "$dest" && mkdir -p "$dest"
            time_it "aria2_${s}_s" aria2_get "$s" "$dest"
            rm -rf "$dest" && mkdir -p "$dest"
            time_it "curl_${s}_s" curl_get "$s"
            if [ -n "$LAUNCHER" ]; then
                fresh_folder "$dest"
                before="$(requests_of "$s")"
                time_it "launcher_${s}_s" launcher_run "$dest" "${PORT[$s]}"
                record "requests_$s" "$(($(requests_of "$s") - before))"
            fi
        done
    done
    [ -n "$LAUNCHER" ] || return 0
    # Where the time of a small-file install goes, from outside, packed and every file alone.
    fresh_folder "$dest"
    python3 "$BENCH/timeline.py" "$dest" "$NGINX_PREFIX/c.access.log" -- wine "$dest/OrvantisKesh.exe" \
        --server "127.0.0.1:${PORT[c]}" --yes --verify-only >"$OUT/timeline-install-c.txt"
    fresh_folder "$dest"
    python3 "$BENCH/timeline.py" "$dest" "$NGINX_PREFIX/c-alone.access.log" -- wine "$dest/OrvantisKesh.exe" \
        --server "127.0.0.1:${PORT[c-alone]}" --yes --verify-only >"$OUT/timeline-install-c-alone.txt"
    # The same small files without packs: every file its own request.
    for r in $(seq "$RUNS"); do
        fresh_folder "$dest"
        before="$(requests_of c-alone)"
        time_it launcher_c-alone_s launcher_run "$dest" "${PORT[c-alone]}"
        record requests_c-alone "$(($(requests_of c-alone) - before))"
    done
    rm -rf "$dest"
}

bench_memory() {
    echo "== Memory: peak working set =="
    local s r line dest="$SCRATCH/memory"
    mkdir -p "$SCRATCH"
    for r in $(seq "$RUNS"); do
        line="$(wine "$BIN/peak_memory.exe" "$(winpath "$BIN")" "$(winpath "$BIN/empty.exe")" </dev/null)"
        record mem_empty "$(sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p' <<<"$line")"
        line="$(wine "$BIN/peak_memory.exe" "$(winpath "$BIN")" "$(winpath "$BIN/window_empty.exe")" </dev/null)"
        record mem_window "$(sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p' <<<"$line")"
    done
    [ -n "$LAUNCHER" ] || return 0
    for s in b b2 c c2; do
        record "bytes_$s" "$(bytes_of "$s")"
        record "objects_$s" "$(wc -l <"$DATA/$s.objects")"
        for r in $(seq "$RUNS"); do
            fresh_folder "$dest"
            line="$(wine "$BIN/peak_memory.exe" "$(winpath "$dest")" "$(winpath "$dest/OrvantisKesh.exe")" \
                --server "127.0.0.1:${PORT[$s]}" --yes --verify-only </dev/null)" ||
                { echo "error: launcher failed on $s under the memory watcher: $line" >&2; return 1; }
            echo "$s $line" >>"$LOGS/memory.log"
            record "mem_$s" "$(sed -n 's/.*peak_working_set=\([0-9]*\).*/\1/p' <<<"$line")"
            record "private_$s" "$(sed -n 's/.*peak_private=\([0-9]*\).*/\1/p' <<<"$line")"
        done
    done
    # Cross-check from Linux: the high-water mark of the Wine process, as the kernel counts it.
    fresh_folder "$dest"
    /usr/bin/time -f '%M' -o "$SCRATCH/maxrss" wine "$dest/OrvantisKesh.exe" --server "127.0.0.1:${PORT[b]}" \
        --yes --verify-only </dev/null >>"$LOGS/memory.log" 2>&1 || true
    record maxrss_b "$(($(tail -1 "$SCRATCH/maxrss") * 1024))"
    rm -rf "$dest"
}

bench_publish() {
    echo "== Publisher =="
    if [ -z "$PUBLISHER" ]; then return 0; fi
    record tree_bytes "$(bytes_of tree)"
    local r
    rm -rf "$SCRATCH"/publish-*
    # Every run builds into a folder of its own, and nothing is deleted between runs: this root
    # file system (ext4 without a journal) passes over inodes freed within the last minute each
    # time it creates a file, and a build right after deleting the last run's 20,480 objects spent
    # 5 to 7 s of system time on that alone. An operator does not delete a release a moment
    # before building the next one, so the series waits a minute after the last mass deletion
    # (the install scenarios delete whole game folders).
    if [ $QUICK -eq 0 ]; then sleep 61; fi
    # The install scenarios push the tree out of the page cache; sha256sum reads it from memory.
    bench_warm_page_cache "$DATA/tree"
    for r in $(seq "$RUNS"); do
        sync # the writes of the last run are not this run's to wait for
        time_it publish_s bench_publisher_build "$DATA/tree" "$SCRATCH/publish-$r"
        # sha256sum of the same files on one core, right beside it.
        time_it sha256sum_s bash -c "cd '$DATA/tree' && xargs -d '\n' -a '$DATA/tree.list' sha256sum >/dev/null"
    done
    rm -rf "$SCRATCH"/publish-*
}

# The publisher's command line, kept in one place.
bench_publisher_build() {
    "$PUBLISHER" build "$1" "$2" --key "$KEY" </dev/null
}

bench_publisher_release() {
    bench_publisher_build "$1" "$2" >>"$LOGS/publisher-release.log" 2>&1 ||
        { echo "error: orvantis-publish build $1 failed (see $LOGS/publisher-release.log)" >&2; return 1; }
    # The list of every file as its own object, for the floor and the peers.
    python3 "$BENCH/gen.py" objects "$1"
}
