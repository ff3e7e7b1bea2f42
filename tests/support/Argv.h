// A command line as main() receives it: the program's name, the words, a null pointer.
#pragma once

#include <string>
#include <vector>

class Argv {
public:
    explicit Argv(std::vector<std::string> args) : words(std::move(args)) {
        words.insert(words.begin(), "marvanecfgutil");
        for (std::string& word : words) {
            pointers.push_back(word.data());
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> words;
    std::vector<char*> pointers;
};
