# Reads CMakeLists.txt files and prints the project's targets for scripts/check-layers.sh:
#   T target home      a target defined in the folder home (relative to the checkout)
#   P target folder    a folder whose sources the target compiles
#   L target library   a library the target links (imported and system libraries included;
#                      the caller keeps those that are targets)
# Set the variable home to the folder of each file (awk -v home=... or home=... before the file).
# Conditions are not evaluated: a link under if(WIN32) counts like any other, so every platform's
# build is held to the same rule. Function bodies are skipped; their calls are read instead.

function reset_command() { name = ""; nargs = 0; depth = 0; token = ""; quoted = 0 }

function end_token() {
    if (token != "" || quoted) args[++nargs] = token
    token = ""; quoted = 0
}

function expand(word,    var, value) {
    while (match(word, /\$\{[A-Za-z0-9_]+\}/)) {
        var = substr(word, RSTART + 2, RLENGTH - 3)
        if (var == "PROJECT_SOURCE_DIR" || var == "CMAKE_SOURCE_DIR") value = "@ROOT"
        else if (var == "CMAKE_CURRENT_SOURCE_DIR") value = "@ROOT/" home
        else if (var in vars) value = vars[var]
        else return word
        word = substr(word, 1, RSTART - 1) value substr(word, RSTART + RLENGTH)
    }
    return word
}

# A target named through a variable that is not known here (a loop's or a function's) stands for
# every target its folder makes that way.
function target_name(word) {
    word = expand(word)
    if (word ~ /[$]/) return "@" home
    return word
}

function source_folder(path,    folder) {
    path = expand(path)
    if (path ~ /[$<>]/ || path !~ /\//) return home
    if (path ~ /^@ROOT\//) path = substr(path, 7)
    else path = home "/" path
    folder = path
    sub(/\/[^\/]*$/, "", folder)
    return folder
}

function emit_sources(target, first, last,    i, word) {
    print "P", target, home
    for (i = first; i <= last; i++) {
        word = args[i]
        if (word ~ /^(STATIC|SHARED|MODULE|OBJECT|INTERFACE|EXCLUDE_FROM_ALL|WIN32|MACOSX_BUNDLE)$/) continue
        print "P", target, source_folder(word)
    }
}

function emit_links(target, first, last,    i, word) {
    for (i = first; i <= last; i++) {
        word = expand(args[i])
        if (word ~ /^(PUBLIC|PRIVATE|INTERFACE|LINK_PUBLIC|LINK_PRIVATE|debug|optimized|general)$/) continue
        if (word ~ /[$<>]/) continue
        print "L", target, word
    }
}

# trevane_add_test(NAME SOURCES ... LIBS ... LABELS ...): linked with the test support as well.
function emit_test(    target, i, section) {
    target = target_name(args[1])
    print "T", target, home
    print "P", target, home
    print "L", target, "trevane_test_support"
    section = ""
    for (i = 2; i <= nargs; i++) {
        if (args[i] ~ /^(SOURCES|LIBS|LABELS)$/) { section = args[i]; continue }
        if (section == "SOURCES") print "P", target, source_folder(args[i])
        if (section == "LIBS") emit_links(target, i, i)
    }
}

# trevane_layer(FOLDER DEPENDS ...): the library trevane_FOLDER of src/FOLDER.
function emit_layer(    target, i) {
    target = "trevane_" args[1]
    print "T", target, "src/" args[1]
    print "P", target, "src/" args[1]
    for (i = 2; i <= nargs && args[i] != "DEPENDS"; i++) {}
    emit_links(target, i + 1, nargs)
}

function run_command(    command, target) {
    command = tolower(name)
    if (command == "function" || command == "macro") { in_function++; return }
    if (command == "endfunction" || command == "endmacro") { in_function--; return }
    if (in_function > 0 || nargs == 0) return
    if (command == "set" && nargs == 2 && args[1] ~ /^[A-Za-z0-9_]+$/) {
        vars[args[1]] = expand(args[2])
    } else if (command == "trevane_layer") {
        emit_layer()
    } else if (command == "trevane_add_test") {
        emit_test()
    } else if (command == "add_library" || command == "add_executable") {
        if (args[2] == "IMPORTED") return
        target = target_name(args[1])
        print "T", target, home
        if (args[2] == "ALIAS") { print "L", target, args[3]; return }
        emit_sources(target, 2, nargs)
    } else if (command == "target_link_libraries") {
        emit_links(target_name(args[1]), 2, nargs)
    }
}

FNR == 1 { reset_command(); in_function = 0; pending = ""; split("", vars) }

{
    line = $0
    n = length(line)
    for (i = 1; i <= n; i++) {
        c = substr(line, i, 1)
        if (depth == 0) {
            # Between commands: a word followed by "(" opens one.
            if (c == "#") break
            if (c ~ /[A-Za-z0-9_]/) { pending = pending c; continue }
            if (c == "(" && pending != "") { name = pending; pending = ""; depth = 1; continue }
            if (c !~ /[ \t]/) pending = ""
            continue
        }
        if (quoted == 2) {
            if (c == "\\") { token = token substr(line, ++i, 1); continue }
            if (c == "\"") { quoted = 1; continue }
            token = token c
            continue
        }
        if (c == "#") break
        if (c == "\"") { quoted = 2; continue }
        if (c == "(") { depth++; token = token c; continue }
        if (c == ")") {
            if (--depth == 0) { end_token(); run_command(); reset_command(); continue }
            token = token c
            continue
        }
        if (c ~ /[ \t]/) { end_token(); continue }
        token = token c
    }
    if (depth == 0) pending = ""
    else if (quoted == 2) token = token " "
    else end_token()
}
