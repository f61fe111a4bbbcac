#!/bin/sh
# The Ansible collection as Ansible's own tools read it: built with
# ansible-galaxy, each module's documentation shown by ansible-doc, the sanity
# tests of ansible-test that need nothing from the network, the examples
# checked by yamllint and ansible-lint, and each example in docs/ansible.md
# held to its file. Opens no socket.
set -u
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=scripts/lib/common.sh
. scripts/lib/common.sh
collection=ansible/ansible_collections/lbxconfig/lbx
work=$(mktemp -d)
trap 'rm -rf "$work"; rm -rf "$collection/tests/output"' EXIT
export ANSIBLE_COLLECTIONS_PATH="$PWD/ansible" ANSIBLE_LOCAL_TEMP="$work/tmp" HOME="$work"

ansible-galaxy collection build --output-path "$work" "$collection" >/dev/null 2>&1
check "ansible-galaxy builds the collection" "$(find "$work" -maxdepth 1 -name 'lbxconfig-lbx-*.tar.gz' | wc -l)" 1
for module in lbx_info lbx_converters lbx_command; do
    check "ansible-doc shows $module, with its return values" \
        "$(ansible-doc "lbxconfig.lbx.$module" 2>&1 | grep -c '^RETURN VALUES:')" 1
done
# The sanity tests that need no virtual environment from PyPI.
sanity="action-plugin-docs changelog compile empty-init future-import-boilerplate ignores
line-endings metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys
no-dict-itervalues no-get-exception no-illegal-filenames no-main-display no-smart-quotes
no-unicode-literals pslint replace-urlopen shebang shellcheck symlinks use-argspec-type-path
use-compat-six"
tests=""
for test in $sanity; do tests="$tests --test $test"; done
# shellcheck disable=SC2086
result=$(cd "$collection" && ansible-test sanity --local --python "$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')" $tests 2>&1)
check "ansible-test sanity: $(echo "$sanity" | wc -w) tests pass" \
    "$(echo "$result" | grep -c '^ERROR\|^FATAL')" 0
[ "$failures" -eq 0 ] || echo "$result"
check "the examples are clean YAML" "$(yamllint -d relaxed ansible/examples 2>&1)" ""
lint=$(cd ansible && NO_COLOR=1 ANSIBLE_COLLECTIONS_PATHS="$PWD" ansible-lint examples/*.yml 2>&1)
check "ansible-lint passes the example playbooks" "$(echo "$lint" | grep -c 'Passed with')" 1
check "each example in docs/ansible.md is its file" "$(python3 - <<'PY'
import re
text = open("docs/ansible.md", encoding="utf-8").read()
for path, block in re.findall(r"<!-- file: (\S+) -->\n```\w*\n(.*?)```", text, re.S):
    if open(path, encoding="utf-8").read() != block:
        print(path)
PY
)" ""

echo "$failures failed"
[ "$failures" -eq 0 ]
