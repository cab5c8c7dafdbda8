#pragma once
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/temp_dir.h"

// Checks JSON text against a schema in the repository (the report's unless named) with a real
// JSON Schema validator (Python's jsonschema). Returns "" when it validates, else the
// validator's words.
inline std::string SchemaErrors(const std::string& json,
                                const std::string& schemaFile = "cli/output/report.schema.json") {
    TempDir dir;
    const std::string path = dir.Path() + "/report.json";
    std::ofstream(path) << json;
    const std::string schema = std::string(BREVANT_SOURCE_DIR) + "/" + schemaFile;
    const std::string command =
        "python3 -c 'import json, sys, jsonschema\n"
        "try:\n"
        "    jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n"
        "except Exception as e:\n"
        "    print(type(e).__name__, str(e).splitlines()[0])\n' " +
        path + " " + schema + " 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "python3 could not be run";
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    return out;
}
