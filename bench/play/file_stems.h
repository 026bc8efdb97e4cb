#pragma once
// The file names of the cars a game went through: each car's files start with
// a stem of its own. Windows tells file names apart only by more than letter
// case, so "Bob" and "bob" must not share one, and a numbered stem ("bob_2",
// for the second car called bob) must not be the name of another car.
#include <set>
#include <string>

namespace bench {

class FileStems {
  public:
    // The car's name when no earlier car took it (in any letter case),
    // otherwise the name numbered from 2 on with the first number still free.
    std::string claim(const std::string& name) {
        if (taken_.insert(folded(name)).second) {
            return name;
        }
        for (unsigned n = 2;; ++n) {
            std::string stem = name + "_" + std::to_string(n);
            if (taken_.insert(folded(stem)).second) {
                return stem;
            }
        }
    }

  private:
    static std::string folded(std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return text;
    }

    std::set<std::string> taken_;
};

} // namespace bench
