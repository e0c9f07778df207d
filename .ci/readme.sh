# Sourced by the CI scripts: the commands the README gives.

# readme_command HEADING: prints the first code block under README.md's
# "## HEADING", exactly as written there.
readme_command() {
    awk -v heading="## $1" '$0 == heading { section = 1; next }
        section && /^## / { exit }
        section && /^```/ { if (inside) exit; inside = 1; next }
        inside { print }' README.md
}
