#pragma once
// Tables written as TSV, CSV (RFC 4180) or JSON (an array of objects).
#include <cstdio>
#include <string>
#include <vector>

enum class TableFormat { tsv, csv, json };

// Column kinds for JSON: numbers are written bare ("-" becomes null), bytes
// columns hold 8-bit names and are read as Latin-1 to give valid UTF-8.
enum class ColumnKind { text, number, bytes };

struct Table {
    std::vector<std::string> columns;
    std::vector<ColumnKind> kinds;
    std::vector<std::vector<std::string>> rows;
};

int parse_table_format(const char* text, TableFormat* format);  // 0 or -1
void write_table(FILE* out, const Table& table, TableFormat format);

std::string json_string(const std::string& utf8);
std::string csv_field(const std::string& text);
