#pragma once
// The serial-number dialog's state without widgets: where and how a serial number is written
// into the Flash image, and the increment the auto-program run applies once per device. The
// settings live as long as the program and are never saved.
#include <cstdint>
#include <functional>
#include <string>

class THexList;

class TSerialNum {
public:
    static constexpr const char* kInvalidLocation = "Location is not valid! - Please enter another";
    static constexpr const char* kNumberTooWide =
        "Serial number does not fit in the chosen size! - Please choose a larger size";

    enum TMode : int { smDisabled = 0, smStoreInFlash = 1 };
    enum TSize : int { ssTwoBytes = 0, ssThreeBytes = 1, ssFourBytes = 2 };
    enum TBase : int { sbBinary = 0, sbDecimal = 1, sbHexadecimal = 2, sbOctal = 3 };

    // Item indexes of the radio groups and the values of the two entry fields.
    int rgSerialNumMode = smDisabled;
    int rgSerialNumSize = ssTwoBytes;
    int RadioGroup1 = sbHexadecimal;  // how the current serial is shown and typed; never its value
    // Wider than the largest 4-byte number so that the one after FFFFFFFFh is refused, not 0.
    uint64_t heCurrentSerial = 0;
    uint32_t heSerialLocation = 0;
    // The production store's pool the numbers come from instead of heCurrentSerial (which the
    // pool's next number then replaces); empty for this PC's own count.
    std::string Pool;

    // Bytes the serial number occupies: 2, 3 or 4.
    int SizeInBytes() const;
    // The size group, labels and entry fields are enabled exactly when numbering is on.
    bool FieldsEnabled() const { return rgSerialNumMode != smDisabled; }

    // Writes the serial big-endian at the location. A value wider than the chosen size keeps
    // its leading digits, so the stored bytes are its most significant ones.
    void PlaceSerial(THexList& image) const;
    // True when the whole number fits inside the image at the location and stays clear of the
    // option byte, the image's last byte, which programming writes over it.
    bool LocationValid(const THexList& image) const;
    // Why the location is refused ("2 bytes there run past the image"), or empty.
    std::string LocationProblem(const THexList& image) const;
    // True when the current number fits in the chosen size. A wider one would be stored as its
    // leading digits, which repeat: 10000h to 1000Fh would all be stored as 1000h.
    bool Fits() const;
    // Why the current number cannot be placed: kInvalidLocation, kNumberTooWide, or empty.
    std::string Refusal(const THexList& image) const;
    // The same as a failure line of a run ("text!detail", naming the number and the location).
    std::string RefusalLine(const THexList& image) const;

    // The OK button: with numbering on, checks the location and the number's size and places the
    // serial. Returns false when either was refused (the dialog then stays open for another).
    bool Button2Click(THexList& image);
    // One more device: the serial goes up by one; past the chosen size it no longer Fits().
    void Increment() { ++heCurrentSerial; }
    // "Clear" and "Cancel": numbering off, both fields 0.
    void Clear();
    void Cancel() { Clear(); }

    // Shows an information message with an OK button.
    std::function<void(const std::string&)> OnMessage;
};
