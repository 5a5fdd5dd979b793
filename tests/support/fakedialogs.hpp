// Dialogs of app/dialogs.hpp that answer instead of a user and keep what the
// window asked, for the behaviour's tests and the hosts' alike.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.hpp"

namespace v2bsp::fixtures {

// Answers File > Open with the next of its answers ("" is a cancel) and keeps
// what the window set before showing it.
class ScriptedOpenBox final : public app::OpenBox {
public:
    explicit ScriptedOpenBox(std::vector<std::string> answers = {}) : answers_(std::move(answers)) {}
    void setFileName(const std::string& name) override {
        chosen_ = name;
        namesSet.push_back(name);
    }
    void setFilter(const std::vector<app::FileFilter>& filter) override { filters.push_back(filter); }
    void showOpen() override {
        ++shown;
        chosen_ = answers_.empty() ? std::string() : answers_.front();
        if (!answers_.empty()) answers_.erase(answers_.begin());
    }
    std::string fileName() const override { return chosen_; }

    std::vector<std::string> namesSet;
    std::vector<std::vector<app::FileFilter>> filters;
    int shown = 0;

private:
    std::vector<std::string> answers_;
    std::string chosen_;
};

// Answers a save box with `answer` ("" is a cancel) and the filter `filter`,
// and keeps what the window set before showing it.
class ScriptedSaveBox final : public app::SaveBox {
public:
    std::string answer;
    int filter = 0;
    std::string title, suggested;
    std::vector<app::FileFilter> filtersset;
    int shown = 0;
    void setTitle(const std::string& text) override { title = text; }
    void setFileName(const std::string& name) override { suggested = name; }
    void setFilters(const std::vector<app::FileFilter>& filters) override { filtersset = filters; }
    void showSave() override {
        ++shown;
        chosen_ = answer;
    }
    std::string fileName() const override { return chosen_; }
    int selectedFilter() const override { return filter; }

private:
    std::string chosen_;
};

struct Notice {
    std::string text, reason;  // or the detail of a failure, or the About text
};

class CapturedMessages final : public app::MessagePresenter {
public:
    void notAMap(const std::string& text, const std::string& reason) override {
        notices.push_back({text, reason});
        if (onNotice) onNotice();
    }
    void failed(const std::string& text, const std::string& detail) override {
        failures.push_back({text, detail});
        if (onFailure) onFailure();
    }
    void about(const std::string& title, const std::string& text) override { abouts.push_back({title, text}); }
    std::function<void()> onNotice, onFailure;  // each runs while its box would be up
    std::vector<Notice> notices, failures, abouts;
};

}  // namespace v2bsp::fixtures
