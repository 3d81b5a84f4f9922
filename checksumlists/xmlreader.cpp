// Logiqx XML lists through expat. A list needs no entities beyond XML's own
// (&amp; and the like), so any entity declaration is refused the moment it
// is read: no entity is ever expanded, which rules out the billion laughs,
// and none names a file or an address to load. The external DTD that
// No-Intro's DOCTYPE names is never read either. (With such a DOCTYPE,
// expat drops a reference to an undeclared entity inside an attribute value
// rather than report it; in text it is refused.)
#include "checksumlists/listbuilder.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <new>

namespace kelvo {

namespace {

using namespace std::literals;

class XmlReader {
public:
    XmlReader(ListBuilder& builder) : builder_(builder), parser_(XML_ParserCreate(nullptr)) {
        if (!parser_)
            throw std::bad_alloc();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &XmlReader::onStart, &XmlReader::onEnd);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        XML_SetEntityDeclHandler(parser_, &XmlReader::onEntityDecl);
        XML_SetExternalEntityRefHandler(parser_, &XmlReader::onExternalEntity);
        XML_SetSkippedEntityHandler(parser_, &XmlReader::onSkippedEntity);
#if defined(XML_DTD) &&                                                                            \
    (XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4))
        // Refusing declarations keeps entities out already; this is expat's
        // own guard, should a declaration ever get past.
        XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser_, 4.0F);
        XML_SetBillionLaughsAttackProtectionActivationThreshold(parser_, 1 << 20);
#endif
    }
    ~XmlReader() {
        XML_ParserFree(parser_);
    }
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    void read(std::string_view text) {
        if (text.size() > std::size_t(INT_MAX))
            refuseList(0, "the list is too large");
        const XML_Status status = XML_Parse(parser_, text.data(), int(text.size()), XML_TRUE);
        if (problem_)
            throw *problem_;
        if (status != XML_STATUS_OK)
            refuseList(XML_GetCurrentLineNumber(parser_),
                       "expected well-formed XML ("s + XML_ErrorString(XML_GetErrorCode(parser_)) +
                           ")");
        if (!sawRoot_)
            refuseList(XML_GetCurrentLineNumber(parser_), "expected a <datafile> element");
    }

private:
    enum class Place { Outside, Root, Header, HeaderField, Game, Skipped };

    [[nodiscard]] std::size_t line() const {
        return XML_GetCurrentLineNumber(parser_);
    }

    // Handlers must not throw through expat: a problem stops the parser and
    // is thrown once XML_Parse has returned.
    template <typename F> static void guarded(void* self, F&& work) {
        auto& reader = *static_cast<XmlReader*>(self);
        if (reader.problem_)
            return;
        try {
            work(reader);
        } catch (const ListProblem& problem) {
            reader.stop(problem);
        } catch (const std::bad_alloc&) {
            reader.stop({reader.line(), "out of memory", {}});
        }
    }

    void stop(ListProblem problem) {
        problem_ = std::move(problem);
        XML_StopParser(parser_, XML_FALSE);
    }

    static void onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        guarded(self, [&](XmlReader& r) { r.start(name, attributes); });
    }
    static void onEnd(void* self, const XML_Char*) {
        guarded(self, [](XmlReader& r) { r.end(); });
    }
    static void onText(void* self, const XML_Char* text, int length) {
        guarded(self, [&](XmlReader& r) { r.text(std::string_view(text, std::size_t(length))); });
    }
    static void onEntityDecl(void* self, const XML_Char* name, int, const XML_Char*, int,
                             const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
        guarded(self, [&](XmlReader& r) {
            refuseList(r.line(), "expected no entity declarations, found one of \""s +
                                     std::string(name).substr(0, 40) + "\"");
        });
    }
    static int onExternalEntity(XML_Parser parser, const XML_Char*, const XML_Char*,
                                const XML_Char*, const XML_Char*) {
        guarded(XML_GetUserData(parser), [](XmlReader& r) {
            refuseList(r.line(), "expected no reference to an external entity");
        });
        return XML_STATUS_ERROR;
    }
    static void onSkippedEntity(void* self, const XML_Char* name, int) {
        guarded(self, [&](XmlReader& r) {
            refuseList(r.line(), "expected no reference to an undeclared entity, found &"s +
                                     std::string(name).substr(0, 40) + ";");
        });
    }

    void start(const XML_Char* name, const XML_Char** attributes) {
        if (depth_ == kMaxXmlDepth)
            refuseList(line(), "expected elements nested at most " + std::to_string(kMaxXmlDepth) +
                                   " deep");
        places_[depth_++] = place_;
        const std::string_view element = name;
        switch (place_) {
        case Place::Outside:
            // MAME's own list writes <mame> where DAT files write <datafile>.
            if (element != "datafile" && element != "mame")
                refuseList(line(), "expected <datafile> as the document element, found <" +
                                       std::string(element.substr(0, 40)) + ">");
            sawRoot_ = true;
            place_ = Place::Root;
            return;
        case Place::Root:
            if (element == "header") {
                place_ = Place::Header;
            } else if (element == "game" || element == "machine") {
                place_ = Place::Game;
                game_ = {};
                if (const char* gameName = attribute(attributes, "name")) {
                    checkLength(gameName, "game name", line());
                    game_ = builder_.keep(gameName);
                }
            } else {
                place_ = Place::Skipped;
            }
            return;
        case Place::Header:
            field_ = element == "name"          ? &builder_.list().name
                     : element == "description" ? &builder_.list().description
                     : element == "version"     ? &builder_.list().version
                                                : nullptr;
            if (field_) {
                field_->clear();
                fieldName_ = name;
                // Only these few elements' text is wanted; expat reports no
                // other text at all.
                XML_SetCharacterDataHandler(parser_, &XmlReader::onText);
            }
            place_ = field_ ? Place::HeaderField : Place::Skipped;
            return;
        case Place::Game:
            if (element == "rom")
                rom(attributes);
            place_ = Place::Skipped;
            return;
        case Place::HeaderField:
        case Place::Skipped:
            place_ = Place::Skipped;
            return;
        }
    }

    void end() {
        if (place_ == Place::HeaderField) {
            XML_SetCharacterDataHandler(parser_, nullptr);
            trim(*field_);
        }
        place_ = places_[--depth_];
    }

    void text(std::string_view text) {
        field_->append(text);
        checkLength(*field_, fieldName_.c_str(), line());
    }

    static const char* attribute(const XML_Char** attributes, std::string_view name) {
        for (const XML_Char** a = attributes; *a; a += 2) {
            if (name == a[0])
                return a[1];
        }
        return nullptr;
    }

    void rom(const XML_Char** attributes) {
        const std::size_t at = line();
        ListRom rom;
        bool named = false;
        for (const XML_Char** a = attributes; *a; a += 2) {
            const std::string_view key = a[0];
            const std::string_view value = a[1];
            if (key == "name") {
                checkLength(value, "rom name", at);
                rom.name = builder_.keep(value);
                named = true;
            } else if (key == "size") {
                readSize(value, at, rom.size);
            } else if (key == "crc") {
                readCrc32(value, at, rom.crc32);
            } else if (key == "md5") {
                readMd5(value, at, rom.md5);
            } else if (key == "sha1") {
                readSha1(value, at, rom.sha1);
            } else if (key == "sha256") {
                readSha256(value, at, rom.sha256);
            } else if (key == "status") {
                rom.status = readStatus(value, "status", at);
            } else if (key == "serial") {
                checkLength(value, "serial", at);
                rom.serial = builder_.keep(value);
            }
        }
        if (!named || rom.name.empty())
            refuseList(at, "expected a name attribute in <rom>");
        rom.game = game_;
        builder_.add(std::move(rom));
    }

    static void trim(std::string& text) {
        constexpr const char* kBlanks = " \t\r\n";
        text.erase(0, std::min(text.size(), text.find_first_not_of(kBlanks)));
        text.erase(text.find_last_not_of(kBlanks) + 1);
    }

    ListBuilder& builder_;
    XML_Parser parser_;
    std::optional<ListProblem> problem_;
    Place place_ = Place::Outside;
    Place places_[kMaxXmlDepth]{};
    std::size_t depth_ = 0;
    bool sawRoot_ = false;
    std::string_view game_;
    std::string* field_ = nullptr;
    std::string fieldName_;
};

} // namespace

void readLogiqxXml(std::string_view text, ListBuilder& builder) {
    builder.expect(text.size());
    XmlReader(builder).read(text);
}

} // namespace kelvo
