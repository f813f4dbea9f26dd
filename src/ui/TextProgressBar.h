#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A progress bar that can tell which text it shows instead of the percentage, and that wakes only while
    its picture changes.

    JUCE's own bar polls its value every 30 ms for as long as it is on screen. This one draws the same
    picture with the same 30 ms steps, but its owner calls follow() after the value may have changed, and
    the steps run only while the bar glides towards a new value or shows the moving stripes of a value
    outside 0..1. An idle window thus has nothing to wake for. */
class TextProgressBar : public juce::ProgressBar
{
public:
    explicit TextProgressBar(double& progressToShow)
        : juce::ProgressBar(progressToShow), progress(progressToShow),
          shownValue(std::clamp(progress, 0.0, 1.0))
    {
    }

    void setTextToDisplay(const juce::String& text)
    {
        const bool changed = shownText != text || showingPercentage;
        shownText = text;
        showingPercentage = false;
        juce::ProgressBar::setTextToDisplay(text);
        follow();
        if (auto* handler = getAccessibilityHandler(); handler != nullptr && changed)
            handler->notifyAccessibilityEvent(juce::AccessibilityEvent::titleChanged);
    }

    void setPercentageDisplay(bool shouldDisplayPercentage)
    {
        showingPercentage = shouldDisplayPercentage;
        juce::ProgressBar::setPercentageDisplay(shouldDisplayPercentage);
    }

    const juce::String& getTextToDisplay() const { return shownText; }
    bool isShowingPercentage() const { return showingPercentage; }

    /** Looks at the value again and starts the steps if the picture has to change. */
    void follow()
    {
        if (needsSteps() && !steps.isTimerRunning())
            steps.startTimer(stepIntervalMs);
    }

    /** True while the bar is gliding or animating. */
    bool isMoving() const { return steps.isTimerRunning(); }

    /** One 30 ms step (its timer calls it): glide towards the value, at most glidePerStep, or redraw the
        stripes; the steps end once the picture is the one the value asks for. */
    void step()
    {
        if (!needsSteps())
        {
            steps.stopTimer();
            return;
        }
        auto next = progress;
        if (shownValue < next && !isStriped(next) && !isStriped(shownValue))
            next = std::min(shownValue + glidePerStep, next);
        shownValue = next;
        drawnText = shownText;
        repaint();
        if (auto* handler = getAccessibilityHandler())
            handler->notifyAccessibilityEvent(juce::AccessibilityEvent::valueChanged);
    }

    void paint(juce::Graphics& g) override
    {
        juce::String text;
        if (!showingPercentage)
            text = drawnText;
        else if (shownValue >= 0.0 && shownValue <= 1.0)
            text << juce::roundToInt(shownValue * 100.0) << '%';
        getLookAndFeel().drawProgressBar(g, *this, getWidth(), getHeight(), shownValue, text);
    }

    /** A screen reader calls the bar by the text it shows (by its title while it shows the percentage) and
        reads the progress as its value, 0 to 1. */
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override
    {
        struct Value final : juce::AccessibilityRangedNumericValueInterface
        {
            explicit Value(const TextProgressBar& b) : bar(b) {}
            bool isReadOnly() const override { return true; }
            void setValue(double) override {}
            double getCurrentValue() const override { return std::clamp(bar.progress, 0.0, 1.0); }
            AccessibleValueRange getRange() const override { return {{0.0, 1.0}, 0.001}; }
            const TextProgressBar& bar;
        };
        struct Handler final : juce::AccessibilityHandler
        {
            explicit Handler(TextProgressBar& b)
                : juce::AccessibilityHandler(b, juce::AccessibilityRole::progressBar, {},
                                             {std::make_unique<Value>(b)}),
                  bar(b)
            {
            }
            juce::String getTitle() const override
            {
                return bar.showingPercentage || bar.shownText.isEmpty() ? bar.getTitle() : bar.shownText;
            }
            TextProgressBar& bar;
        };
        return std::make_unique<Handler>(*this);
    }

    void visibilityChanged() override
    {
        if (isVisible())
            follow();
        else
            steps.stopTimer();
    }

private:
    static constexpr int stepIntervalMs = 30;
    static constexpr double glidePerStep = 0.0008 * stepIntervalMs;

    static bool isStriped(double value) { return value < 0.0 || value >= 1.0; }

    bool needsSteps() const
    {
        return isVisible() && (shownValue != progress || isStriped(progress) || drawnText != shownText);
    }

    struct Steps : juce::Timer
    {
        explicit Steps(TextProgressBar& b) : bar(b) {}
        void timerCallback() override { bar.step(); }
        TextProgressBar& bar;
    };

    double& progress;
    double shownValue;
    juce::String shownText, drawnText;
    bool showingPercentage = true;
    Steps steps{*this};
};
