#!/bin/sh
# The command gst-inspect-1.0 finds orvanesrc through GST_PLUGIN_PATH and lists each of its properties.
set -e
out=$(gst-inspect-1.0 orvanesrc)
for p in camera exposure gain color-mode size capture-window sub-sample mirror-h mirror-v brightness contrast \
  hue saturation sharpness gamma white-balance-auto defect-correction stats num-buffers do-timestamp; do
  if ! printf '%s\n' "${out}" | grep -Eq "^  ${p} +:"; then
    echo "gst-inspect-1.0 orvanesrc does not list the property ${p}"
    exit 1
  fi
done
printf '%s\n' "${out}" | grep -q 'GRAY8' || { echo "no GRAY8 in the pad template"; exit 1; }
echo "orvanesrc and its properties are listed"
