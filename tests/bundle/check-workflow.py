#!/usr/bin/env python3
"""Reads the Windows workflow with a YAML parser and checks its shape: a job
on a Linux runner that builds and uploads the test bundle, and a job on
windows-latest, after it, that downloads it, runs run-tests.cmd and uploads
the reports. Usage: check-workflow.py WORKFLOW.yml"""
import sys

import yaml


def uses(step, action):
    return str(step.get("uses", "")).startswith(action + "@")


def main(path):
    with open(path, encoding="utf-8") as stream:
        workflow = yaml.safe_load(stream)
    jobs = workflow["jobs"]
    assert len(jobs) == 2, "two jobs"
    bundle = jobs["bundle"]
    windows = jobs["windows"]
    assert "ubuntu" in bundle["runs-on"] or "debian" in str(bundle.get("container", ""))
    assert any("make windows-tests" in str(s.get("run", "")) for s in bundle["steps"])
    assert any(uses(s, "actions/upload-artifact") for s in bundle["steps"])
    assert windows["runs-on"] == "windows-latest" and windows["needs"] == "bundle"
    assert any(uses(s, "actions/download-artifact") for s in windows["steps"])
    assert any("run-tests.cmd" in str(s.get("run", "")) for s in windows["steps"])
    assert any(uses(s, "actions/upload-artifact") and "reports" in s["with"]["path"]
               for s in windows["steps"])
    # YAML reads a bare "on" as true.
    assert "on" in workflow or True in workflow, "triggers"
    print("workflow ok:", path)


if __name__ == "__main__":
    main(sys.argv[1])
