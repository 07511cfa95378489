#include "drivers/canlayer/tests/card_fixture.h"

#include <array>
#include <stdexcept>

#include "common/byte_order.h"

namespace vantor::canlayer::testing {
namespace {

constexpr std::uint32_t kInterruptControl = 0x4C;
constexpr std::uint32_t kLocal1EdgeActiveHigh = 0x103;
constexpr std::uint32_t kClearEdge = 0x400;
constexpr std::uint32_t kPciInterruptEnable = 0x40;
constexpr int kMaxStepsPerAdvance = 1'000'000;

}  // namespace

// ---- TestCardDriver ----------------------------------------------------------------

TestCardDriver::TestCardDriver(devhost::DriverHost& host, const sim::PciCard& card, Config config)
    : host_(host), config_(std::move(config)) {
  if (host_.CreateDevice({config_.deviceName, this, CanRequestTable(config_.channel.role)},
                         device_) != os::kStatusSuccess ||
      host_.CreateSymbolicLink(config_.linkName, config_.deviceName) != os::kStatusSuccess) {
    throw std::runtime_error("CAN device not created");
  }
  const sim::PciCard::Bar bar0 = card.BarInfo(0);
  const sim::PciCard::Bar bar2 = card.BarInfo(2);
  const auto bridge = host_.Hardware().MapIoSpace(bar0.address, bar0.size);
  const auto controllers = host_.Hardware().MapIoSpace(bar2.address, bar2.size);
  if (!bridge || !controllers) throw std::runtime_error("card windows not mapped");
  bridge_ = *bridge;
  bus_ = std::make_unique<WindowControllerBus>(*controllers, config_.controllerBase);
  channel_ = std::make_unique<CanChannel>(host_, *device_, *bus_, host_.Card("pci0"), *this,
                                          config_.channel);
  namespace cr = common::channel_resources;
  common::ChannelResources resources;
  resources.Set(cr::kInterruptVector, kCardVector);
  resources.Set(cr::kInterruptLevel, kCardVector);
  resources.Set(cr::kProcessorAffinity, 1);
  resources.Set(cr::kInterruptMode, 0);
  resources.Set(cr::kBridgeWindowAddress, bar0.address);
  resources.Set(cr::kBridgeWindowLength, bar0.size);
  resources.Set(cr::kControllerWindowAddress, bar2.address);
  resources.Set(cr::kControllerWindowLength, bar2.size);
  channel_->SetResources(resources);
}

TestCardDriver::~TestCardDriver() {
  channel_.reset();
  host_.DeleteSymbolicLink(config_.linkName);
  host_.DeleteDevice(*device_);
}

void TestCardDriver::DeviceControl(devhost::IoRequest& request) {
  if (!channel_->DeviceControl(request)) request.Complete(os::kStatusInvalidParameter);
}

void TestCardDriver::ModifyBridge(std::uint32_t set, std::uint32_t clear) {
  const auto raised = host_.Card("pci0").Raise();
  const std::uint32_t value = bridge_.Read32(kInterruptControl);
  bridge_.Write32(kInterruptControl, (value | set) & ~clear);
}

std::uint32_t TestCardDriver::BridgeInterruptControl() {
  const auto raised = host_.Card("pci0").Raise();
  return bridge_.Read32(kInterruptControl);
}

devhost::RequestResult TestCardDriver::SendToChannelOne(std::uint32_t code,
                                                        std::span<const std::uint8_t> input,
                                                        std::span<std::uint8_t> output) {
  const auto channelOne = host_.FindDevice("\\Device\\tarnis1");
  if (channelOne == nullptr) return {os::kStatusNoSuchDevice, 0};
  return host_.SendRequest(*channelOne, nullptr, code, input, output,
                           devhost::MillisecondsToTicks(5000));
}

common::DriverStatus TestCardDriver::PrepareTickSource(std::uint8_t tickDivider) {
  if (!IsChannelTwo()) return common::kDriverSuccess;
  const std::array<std::uint8_t, 1> input{tickDivider};
  std::array<std::uint8_t, 4> status{};
  const auto result = SendToChannelOne(common::IOCTL_CAN_CH2_ATTACH, input, status);
  if (result.status != os::kStatusSuccess) return common::kDriverBaseDeviceMissing;
  return common::LoadLittleEndian<std::uint32_t>(status.data());
}

bool TestCardDriver::EnableTickSource() {
  if (IsChannelTwo())
    return SendToChannelOne(common::IOCTL_CAN_CH2_ENABLE, {}, {}).status == os::kStatusSuccess;
  ModifyBridge(kLocal1EdgeActiveHigh, 0);
  ModifyBridge(kClearEdge | kPciInterruptEnable, 0);
  return true;
}

void TestCardDriver::AbandonTickSource() {
  if (IsChannelTwo()) SendToChannelOne(common::IOCTL_CAN_CH2_DETACH, {}, {});
}

void TestCardDriver::AcknowledgeTick() { ModifyBridge(kClearEdge, 0); }

bool TestCardDriver::DisableTickSource() {
  if (IsChannelTwo())
    return SendToChannelOne(common::IOCTL_CAN_CH2_DISABLE, {}, {}).status == os::kStatusSuccess;
  ModifyBridge(0, kPciInterruptEnable);
  return true;
}

void TestCardDriver::ResumeInterruptOutput() { ModifyBridge(kClearEdge | kPciInterruptEnable, 0); }

void TestCardDriver::ReleaseTickSource() {
  if (IsChannelTwo()) SendToChannelOne(common::IOCTL_CAN_CH2_DETACH, {}, {});
}

// ---- ReplySink -------------------------------------------------------------------------

void ReplySink::Deliver(devhost::IoRequest& request) {
  std::lock_guard lock(mutex_);
  ++deliveries_;
  status_ = request.Status();
  information_ = request.Information();
  const auto buffer = request.SystemBuffer();
  data_.assign(buffer.begin(), buffer.begin() + information_);
  completedAt_ = clock_.Now();
}
bool ReplySink::Done() const { return Deliveries() > 0; }
int ReplySink::Deliveries() const {
  std::lock_guard lock(mutex_);
  return deliveries_;
}
devhost::IoStatus ReplySink::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}
std::uint32_t ReplySink::Information() const {
  std::lock_guard lock(mutex_);
  return information_;
}
std::vector<std::uint8_t> ReplySink::Data() const {
  std::lock_guard lock(mutex_);
  return data_;
}
devhost::Ticks ReplySink::CompletedAt() const {
  std::lock_guard lock(mutex_);
  return completedAt_;
}
std::uint32_t ReplySink::Word(std::size_t offset) const {
  std::lock_guard lock(mutex_);
  if (offset + 4 > data_.size()) return 0xFFFFFFFF;
  return common::LoadLittleEndian<std::uint32_t>(data_.data() + offset);
}

// ---- helpers ----------------------------------------------------------------------------

common::RunRecord MakeRunRecord(const RunRecordFields& f) {
  namespace rr = common::run_record;
  common::RunRecord record;
  record.Set(rr::kInterfaceKind, f.kind);
  record.Set(rr::kChannel, f.channel);
  record.Set(rr::kLatencyMeasurement, f.latency);
  record.Set(rr::kTickClockDivider, f.tickDivider);
  record.Set(rr::kBitRateCode, f.bitRate);
  record.Set(rr::kCycleDivider, f.cycleDivider);
  record.Set(rr::kRunMode, f.mode);
  record.Set(rr::kSendTick, f.sendTick);
  record.Set(rr::kFillLimit, f.fillLimit);
  record.Set(rr::kPollInterval, f.pollInterval);
  record.Set(rr::kPollBudget, f.pollBudget);
  return record;
}

// ---- CardFixture -------------------------------------------------------------------------

CardFixture::CardFixture() {
  channelOne_ = std::make_unique<TestCardDriver>(*host_, *card_, TestCardDriver::Config{});
}

CardFixture::~CardFixture() {
  for (const auto& file : openFiles_) host_->CloseFile(file);
  openFiles_.clear();
  channelTwo_.reset();
  channelOne_.reset();
}

void CardFixture::RebuildChannelOne(const CanChannelSettings& settings) {
  channelOne_.reset();
  TestCardDriver::Config config;
  config.channel = settings;
  channelOne_ = std::make_unique<TestCardDriver>(*host_, *card_, config);
}

TestCardDriver& CardFixture::AddChannelTwo() {
  TestCardDriver::Config config;
  config.deviceName = "\\Device\\tarnis2";
  config.linkName = "\\DosDevices\\tarnis2";
  config.channel.role = CanDriverRole::kChannelTwo;
  config.channel.channel = 2;
  config.controllerBase = 0x100;
  channelTwo_ = std::make_unique<TestCardDriver>(*host_, *card_, config);
  return *channelTwo_;
}

devhost::IoStatus CardFixture::TryOpen(std::shared_ptr<devhost::FileObject>& file,
                                       const char* link) {
  const devhost::IoStatus status = host_->OpenForUser(link, file);
  if (os::IoSucceeded(status)) openFiles_.push_back(file);
  return status;
}

std::shared_ptr<devhost::FileObject> CardFixture::Open(const char* link) {
  std::shared_ptr<devhost::FileObject> file;
  EXPECT_EQ(TryOpen(file, link), os::kStatusSuccess);
  return file;
}

void CardFixture::Close(const std::shared_ptr<devhost::FileObject>& file) {
  host_->CloseFile(file);
}

std::shared_ptr<ReplySink> CardFixture::Send(const std::shared_ptr<devhost::FileObject>& file,
                                             std::uint32_t code,
                                             std::span<const std::uint8_t> input) {
  auto sink = std::make_shared<ReplySink>(clock_);
  const common::DriverRequest* row = common::FindDriverRequest(code);
  const std::uint32_t outputLength = row != nullptr ? row->outputLength : 0;
  static std::uint32_t requestId = 0;
  host_->DispatchUserRequest(file, ++requestId, code, input, outputLength, sink);
  return sink;
}

std::uint32_t CardFixture::Status(const std::shared_ptr<devhost::FileObject>& file,
                                  std::uint32_t code, std::span<const std::uint8_t> input) {
  const auto sink = Send(file, code, input);
  EXPECT_TRUE(sink->Done());
  EXPECT_EQ(sink->Status(), os::kStatusSuccess);
  const common::DriverRequest* row = common::FindDriverRequest(code);
  return row != nullptr && row->HasStatusWord() ? sink->Word(row->statusOffset) : 0xFFFFFFFF;
}

std::uint32_t CardFixture::StartRun(const std::shared_ptr<devhost::FileObject>& file,
                                    const RunRecordFields& fields) {
  const common::RunRecord record = MakeRunRecord(fields);
  return Status(file, common::IOCTL_CAN_START_RUN, record.Bytes());
}

std::shared_ptr<ReplySink> CardFixture::Exchange(const std::shared_ptr<devhost::FileObject>& file,
                                                 const common::ExchangeBuffer& buffer) {
  return Send(file, common::IOCTL_CAN_CYCLIC_EXCHANGE, buffer.Bytes());
}

bool CardFixture::WaitDeferredCalls() {
  return host_->WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kTestDeadline);
}

void CardFixture::AdvanceTo(sim::SimTime target) {
  for (int step = 0; step < kMaxStepsPerAdvance; ++step) {
    const sim::SimTime reached = StepClockAndModels(target);
    pump_.ServiceRaisedInterrupts();
    if (waitForDeferredCalls_) {
      ASSERT_TRUE(WaitDeferredCalls());
    }
    if (reached >= target) return;
  }
  FAIL() << "the machine kept asking for the present";
}

devhost::RequestResult CardFixture::SendInternal(std::uint32_t code,
                                                 std::span<const std::uint8_t> input,
                                                 std::span<std::uint8_t> output) {
  return host_->SendRequest(channelOne_->Device(), nullptr, code, input, output,
                            devhost::MillisecondsToTicks(10));
}

}  // namespace vantor::canlayer::testing
