// varevavo-passwd: sets the password of a realm's user, or the master
// password, of a setup, stored as a yescrypt hash.
//
//   varevavo-passwd [--setup NAME] REALM USER
//   varevavo-passwd [--setup NAME] --master
//
// The new password is read twice: typed without echo at a terminal, or as
// two lines of standard input otherwise, so that scripts can set one.
#include <cstdio>
#include <string>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "config/RealmEditor.h"
#include "platform/PasswordHash.h"
#include "platform/Program.h"
#include "platform/RegistryStore.h"
#include "platform/SecretInput.h"

namespace {

const platform::ProgramUsage kUsage = {
    "varevavo-passwd", "[--setup NAME] REALM USER | [--setup NAME] --master",
    "Sets the password of USER in REALM of a setup (the setup Primary unless\n"
    "--setup names another), creating the user, and the realm, when missing; or\n"
    "with --master the setup's MasterPassword. The password is read twice, without\n"
    "echo from a terminal, or as two lines of standard input otherwise, and stored\n"
    "as a yescrypt hash. The store is $VAREVAVO_HOME/registry.db (default\n"
    "~/.local/share/varevavo).\n",
    "varevavo-passwd(1)"};

int Fail(const std::string& problem) {
    std::fprintf(stderr, "varevavo-passwd: %s; nothing was changed\n", problem.c_str());
    return 1;
}

// The new password, asked twice; empty when it was refused (the reason is
// in *problem).
std::string AskPassword(std::string* problem) {
    std::string first;
    std::string second;
    if (!platform::ReadSecretLine("New password: ", &first) ||
        !platform::ReadSecretLine("Retype new password: ", &second)) {
        *problem = "the password was not given twice";
        return "";
    }
    if (first != second) {
        *problem = "the two passwords differ";
        return "";
    }
    if (first.empty()) *problem = "an empty password is refused";
    return first;
}

}  // namespace

int main(int argc, char** argv) {
    std::string setup = "Primary";
    bool master = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--setup") {
            if (++i == argc) return platform::UsageError(kUsage);
            setup = argv[i];
        } else if (word == "--master") {
            master = true;
        } else if (const int status = platform::AnswerStandardOption(word, kUsage); status >= 0) {
            return status;
        } else {
            names.push_back(word);
        }
    }
    if (master ? !names.empty() : names.size() != 2) return platform::UsageError(kUsage);
    if (setup.empty() || !HTTPConfiguration::SetupExists(setup))
        return Fail("there is no setup named '" + setup + "' (varevavo-setup makes one)");
    if (!master) {
        const char* bad = RealmEditor::RealmNameProblem(names[0]);
        if (!bad) bad = RealmEditor::UserNameProblem(names[1]);
        if (bad) return Fail(bad);
    }

    std::string problem;
    const std::string password = AskPassword(&problem);
    if (password.empty()) return Fail(problem);

    // Read, change and write as one transaction, so that an edit another
    // program makes meanwhile is not overwritten with an older copy.
    platform::reg::Transaction transaction(platform::reg::Transaction::Write);
    HTTPConfiguration config;
    if (!config.LoadConfiguration(setup)) return Fail("the setup could not be read");
    std::string said;
    if (master) {
        config.MasterPassword = platform::HashPassword(password);
        if (config.MasterPassword.empty()) return Fail("the password could not be hashed");
        said = "Master password of setup '" + setup + "' set.";
    } else {
        RealmEditor editor(&config.RealmList);
        const std::string realm = names[0];
        const std::string user = names[1];
        switch (editor.SetPassword(realm, user, password, &problem)) {
            case RealmEditor::Outcome::Refused: return Fail(problem);
            case RealmEditor::Outcome::RealmAndUserAdded:
                said = "Realm '" + realm + "' created.\nUser '" + user + "' added to realm '" + realm + "'.";
                break;
            case RealmEditor::Outcome::UserAdded: said = "User '" + user + "' added to realm '" + realm + "'."; break;
            case RealmEditor::Outcome::PasswordChanged:
                said = "Password of user '" + user + "' in realm '" + realm + "' changed.";
                break;
        }
    }
    if (!config.SaveConfiguration(setup) || transaction.Commit() != platform::reg::ERROR_SUCCESS)
        return Fail("the setup could not be saved");
    std::printf("%s\n", said.c_str());
    return 0;
}
