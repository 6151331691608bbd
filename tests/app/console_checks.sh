# Shared by the console tests (sourced): the captured output of the last run in $out and
# $err, named checks that count and show that output when they fail, and the summary.
passed=0
failed=0
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

check() {  # name, condition...
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
        sed 's/^/  stdout: /' "$out" | head -20 >&2
        sed 's/^/  stderr: /' "$err" | head -20 >&2
    fi
}

# The counts; the status says whether every check held.
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ]
}
