// libFuzzer target: everything the client does with text read from the
// server, on plain state without widgets: decode, cut into pieces,
// recognise, take the client number, and apply Action packets to the stage.
#include "net/Cp1252.h"
#include "net/Packets.h"
#include "net/ReceivedText.h"
#include "stage/ImageSlot.h"
#include "stage/RemoteUpdate.h"
#include "stage/StageRules.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

struct Slot : ImageSlot
{
    float left = 1800, top = 480, height = 615;
    float Left() const override { return left; }
    void setLeft(float v) override { left = v; }
    float Top() const override { return top; }
    void setTop(float v) override { top = v; }
    float Height() const override { return height; }
    void makeVisible() override {}
    void assignSprite(const SpriteRef &s) override { height = float(s.size.height()) * 15.0f; }
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    const QString received = Cp1252::decode(QByteArrayView(data, qsizetype(size)));
    std::array<Slot, StageRules::ImageCount> stage;
    QString clientNumber = QStringLiteral("0");
    for (const QString &piece : ReceivedText::pieces(received)) {
        check(!piece.isEmpty() && !piece.contains(QChar(0)));
        switch (ReceivedText::kind(piece)) {
        case PacketKind::ClientNumber:
            clientNumber = ReceivedText::clientNumber(piece);
            check(clientNumber.size() <= ReceivedText::MaxClientNumberLength);
            break;
        case PacketKind::Action: {
            const ActionUpdate update = RemoteUpdate::parse(piece);
            check(update.index >= -1 && update.index <= 9);
            if (update.index >= 0) {
                Slot &slot = stage[std::size_t(update.index)];
                RemoteUpdate::apply(update, slot, StageRules::GroundTop);
                check(std::isfinite(slot.left) && std::isfinite(slot.top));
            }
            break;
        }
        case PacketKind::NewUser:
            if (const auto n = StageRules::imageIndex(clientNumber))
                (void)Packets::presence(Direction::Left, clientNumber, QStringLiteral("Gimbo"),
                                        stage[std::size_t(*n)].left);
            break;
        case PacketKind::Chat:
        case PacketKind::Unknown:
            break;
        }
    }
    return 0;
}
