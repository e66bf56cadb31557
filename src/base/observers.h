#pragma once
// A small observer list for the core's notifications (the image changed, a board is done, the
// device was switched): any number of listeners, each removed again when the subscription it got
// goes away, so a view that is destroyed first never gets called. Plain C++, no Qt.
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// Removes its listener when destroyed or reset; safe when the list is already gone.
class TSubscription {
public:
    TSubscription() = default;
    explicit TSubscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    TSubscription(TSubscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    TSubscription& operator=(TSubscription&& other) noexcept
    {
        if (this != &other) {
            Reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    TSubscription(const TSubscription&) = delete;
    TSubscription& operator=(const TSubscription&) = delete;
    ~TSubscription() { Reset(); }

    void Reset()
    {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }
    explicit operator bool() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

template <typename... Args>
class TObservers {
public:
    using TListener = std::function<void(Args...)>;

    TObservers() = default;
    // Listeners belong to the object that holds the list, not to its value: a copy starts with
    // none, and an assignment keeps the listeners of the one assigned to.
    TObservers(const TObservers&) : TObservers() {}
    TObservers& operator=(const TObservers&) { return *this; }

    [[nodiscard]] TSubscription Subscribe(TListener listener)
    {
        const int id = state_->next++;
        state_->entries.emplace_back(id, std::move(listener));
        std::weak_ptr<TState> weak = state_;
        return TSubscription([weak, id] {
            if (auto state = weak.lock()) {
                auto& e = state->entries;
                for (auto it = e.begin(); it != e.end(); ++it)
                    if (it->first == id) {
                        e.erase(it);
                        break;
                    }
            }
        });
    }

    bool Empty() const { return state_->entries.empty(); }

    // Calls every listener in the order they subscribed. A listener may subscribe or unsubscribe
    // others meanwhile: the call goes to those subscribed when it began and still subscribed.
    void Notify(Args... args) const
    {
        if (state_->entries.empty()) return;
        std::vector<int> ids;
        for (const auto& entry : state_->entries) ids.push_back(entry.first);
        for (int id : ids) {
            TListener listener;
            for (const auto& entry : state_->entries)
                if (entry.first == id) listener = entry.second;
            if (listener) listener(args...);
        }
    }

private:
    struct TState {
        int next = 0;
        std::vector<std::pair<int, TListener>> entries;
    };
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
};
