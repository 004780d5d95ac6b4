// A checker of setup information (INF) files in the NT 5 format, written
// from the format's rules: sections in brackets, `key = value` and bare
// lines, values as comma-separated fields, ';' comments, quoted strings,
// '\' at a line's end continuing it, %token% replaced from [Strings] (%% a
// percent sign, a number a directory id); section and token names not case
// sensitive.  It judges a driver package's INF against the folder its files
// come from.
#ifndef ZERVAL_TESTS_INF_CHECK_H
#define ZERVAL_TESTS_INF_CHECK_H

#include <map>
#include <string>
#include <vector>

struct InfLine {
    int number = 0;            // first line in the file
    std::string key;           // empty for a line without '='
    std::vector<std::string> fields;  // tokens replaced, quotes and blanks removed
};

struct Inf {
    // Lower-cased section name -> its lines, in order.
    std::map<std::string, std::vector<InfLine>> sections;
    std::vector<std::string> faults;  // the reader's own: one line each

    const std::vector<InfLine> *section(const std::string &name) const;
    // The first field of `key` in `section`, or "" when there is none.
    std::string value(const std::string &section, const std::string &key) const;
};

Inf ReadInf(const std::string &text);

// What a display-driver package installs, as the checker found it.
struct InfPackage {
    std::vector<std::string> copied;    // files copied, in order
    std::vector<std::string> services;  // services added, in order
    std::string driverVersion;          // DriverVer's version field
    std::vector<std::string> faults;    // one line each; empty when sound
};

// Checks the INF's structure and that its package is whole: each file it
// copies is listed with a source disk and lies at that place under
// `sourceRoot`, goes to the drivers folder (directory id 12), and each
// service it adds has its install section and an image among the files
// copied.
InfPackage CheckDriverPackage(const std::string &text, const std::string &sourceRoot);

#endif
