#include "batch/sbatch_args.h"

#include <cstring>
#include <sstream>

namespace {

// Long options vemlo-batch sets itself; getopt_long also takes any unambiguous abbreviation.
const char* const reserved_long[] = {"array", "output", "error", "wait", "chdir"};
// Their short forms, and the short options of sbatch that take no value or a value.
const char reserved_short[] = "aoeWD";
const char short_flags[] = "hHIkOQsuVv";
const char short_with_value[] = "ABbcdFGiJLMmNnpqStwx";

const std::string refused_help =
    " inside --sbatch: vemlo-batch sets the job array, the output files, the directory and the "
    "waiting itself";

bool abbreviates(const std::string& name, const std::string& option, size_t at_least) {
    return name.size() >= at_least && option.compare(0, name.size(), name) == 0;
}

}  // namespace

Outcome<Sbatch_args> parse_sbatch_args(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);

    Sbatch_args result;
    std::vector<std::string> dependencies;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        bool dependency = false;
        std::string value;
        bool value_attached = false;
        if (word.rfind("--", 0) == 0 && word.size() > 2) {
            const size_t equals = word.find('=');
            const std::string name =
                word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            for (const char* reserved : reserved_long)
                if (abbreviates(name, reserved, 1))
                    return failed<Sbatch_args>("Error: " + word + refused_help);
            dependency = abbreviates(name, "dependency", 3);
            value_attached = equals != std::string::npos;
            if (value_attached)
                value = word.substr(equals + 1);
        } else if (word.size() > 1 && word[0] == '-' && word[1] != '-') {
            // A cluster of short options: flags, then at most one option with its value.
            size_t c = 1;
            while (c < word.size() && std::strchr(short_flags, word[c]))
                ++c;
            if (c < word.size() && std::strchr(reserved_short, word[c]))
                return failed<Sbatch_args>("Error: -" + std::string(1, word[c]) + " (in " + word +
                                           ")" + refused_help);
            dependency = c < word.size() && word[c] == 'd';
            if (!dependency) {
                result.options.push_back(word);
                if (c + 1 == word.size() && std::strchr(short_with_value, word[c]) &&
                    i + 1 < words.size())
                    result.options.push_back(words[++i]);  // its value, whatever it looks like
                continue;
            }
            if (c > 1)
                result.options.push_back(word.substr(0, c));  // the flags before -d
            value_attached = c + 1 < word.size();
            value = word.substr(c + 1);
        }
        if (!dependency) {
            result.options.push_back(word);
            continue;
        }
        if (!value_attached) {
            if (i + 1 == words.size())
                return failed<Sbatch_args>("Error: " + word + " inside --sbatch needs a value");
            value = words[++i];
        }
        if (value.empty() || value.find('?') != std::string::npos)
            return failed<Sbatch_args>(
                "Error: the dependency '" + value +
                "' inside --sbatch cannot be joined with the merge job's own (afterok on every "
                "chunk): give a list that must hold as a whole, separated by commas, not '?'");
        dependencies.push_back(value);
    }
    for (const std::string& dependency : dependencies)
        result.dependency += (result.dependency.empty() ? "" : ",") + dependency;
    return succeeded(result);
}

std::string merge_dependency(const std::string& array_id, const std::string& user_dependency) {
    return "afterok:" + array_id + (user_dependency.empty() ? "" : "," + user_dependency);
}
