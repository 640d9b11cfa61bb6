#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""vesk-info --json over whole folders, every line checked against the schema.

Usage: validate-json.py SCHEMA VESK-INFO PATH...
Every kind must occur, or the run proves less than it seems to."""
import json
import subprocess
import sys

import jsonschema

schema_path, vesk_info, *paths = sys.argv[1:]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)

run = subprocess.run([vesk_info, "-r", "--hidden", "--json", "--", *paths],
                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
failures = 0
kinds = set()
lines = run.stdout.decode("utf-8").splitlines()
for line in lines:
    obj = json.loads(line)
    kinds.add(obj.get("kind"))
    for error in validator.iter_errors(obj):
        print(f"{obj.get('path')}: {error.json_path}: {error.message}")
        failures += 1
if kinds != {"image", "bundle", "library", "none"}:
    print(f"kinds seen: {sorted(map(str, kinds))}")
    failures += 1
print(f"{len(lines)} objects, {failures} failures")
sys.exit(1 if failures or not lines else 0)
