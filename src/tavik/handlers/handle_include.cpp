#include "handlers/handlers.h"

#include "afile.h"
#include "classes/define_manager.h"
#include "compiler.h"
#include "global.h"
#include "log.h"
#include "platform/platform.h"
#include "settings.h"

void handle_DIRECTIVE_include(bool) {
    Log->FatalError("The include directive is not supported yet");
}

void handle_DIRECTIVE_resource() {
    Log->FatalError("The resource directive is not supported yet");
}

void handle_DIRECTIVE_doinclude(const std::string& s, bool _tryonly) {
    // Each name is taken once; a later include of it does nothing.
    if (DefMan->getDefine(s)) return;

    const std::string sep(1, platform::PathSeparator);
    const std::string incl = Settings->IncludePath();
    bool found = false;
    for (const std::string& path :
         {Settings->ProjectPath() + s, Settings->CompilerPath() + "includes" + sep + s, incl.empty() ? incl : incl + s}) {
        if (path.empty() || !platform::FileExists(path)) continue;
        TAFile* f = TAFile::Create();
        // A folder of that name is no source: the search goes on.
        if (!f->loadFile(path, Compiler->F_CurFile)) continue;
        Compiler->F_CurFile = f;
        found = true;
        break;
    }

    if (!found) {
        const std::string name = "\"" + s + "\"";
        if (_tryonly) Log->Warning("[0010] Include file not found " + name);
        else if (incl.empty()) Log->FatalError("[1448] Included file not found " + name);
        else Log->FatalError("[1447] Included file not found " + name);
    }
    DefMan->addDefine(s, nullptr);
}
