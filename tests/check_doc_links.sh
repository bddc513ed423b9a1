#!/usr/bin/env bash
# Every relative link in the given Markdown files must point at a file or
# folder that exists, and a link with #anchor into a Markdown file at one of
# its headings (as the web view names them: lower case, punctuation dropped,
# spaces as hyphens). Web addresses are not followed.
#   check_doc_links.sh <file.md>...
# Prints one line per broken link and exits 1 if any is broken.
set -uo pipefail
export LC_ALL=C.UTF-8
broken=0

# The anchors of a Markdown file's headings, one a line (code blocks skipped).
anchors() {
  awk '/^```/ { code = !code; next } !code && /^#+ / { sub(/^#+ +/, ""); print }' "$1" |
    tr '[:upper:]' '[:lower:]' | sed 's/[^[:alnum:] _-]//g; s/ /-/g'
}

for doc in "$@"; do
  folder=$(dirname "$doc")
  # Inline links and images, outside code blocks and code spans.
  targets=$(awk '/^```/ { code = !code; next } !code' "$doc" | sed 's/`[^`]*`//g' |
    grep -o '\](\([^)]*\))' | sed 's/^](//; s/)$//; s/ .*//')
  while read -r target; do
    case "$target" in
      '' | http://* | https://* | mailto:*) continue ;;
    esac
    path=${target%%#*}
    anchor=""
    [ "$path" != "$target" ] && anchor=${target#*#}
    file=$doc
    if [ -n "$path" ]; then
      file=$folder/$path
      if [ ! -e "$file" ]; then
        echo "$doc: link to $target: no $path"
        broken=$((broken + 1))
        continue
      fi
    fi
    if [ -n "$anchor" ] && [[ "$file" == *.md ]] && ! anchors "$file" | grep -qxF -- "$anchor"; then
      echo "$doc: link to $target: no heading #$anchor in $file"
      broken=$((broken + 1))
    fi
  done <<<"$targets"
done

if [ "$broken" -gt 0 ]; then
  echo "$broken broken link(s)"
  exit 1
fi
echo "links resolve in $# file(s)"
