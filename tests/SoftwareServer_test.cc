// The software server's envelopes: schema facts, the wire forms the server and
// the host tools exchange, and the checks the runtime applies to them.
#include <gcuproto/SoftwareServer.pb.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::Message;

// "name=number:type" per field in declaration order; oneof members carry their
// oneof's name, repeated fields [] or [packed].
std::string Shape(const Descriptor* d) {
  std::string out;
  for (int i = 0; i < d->field_count(); ++i) {
    const auto* f = d->field(i);
    if (!out.empty()) out += ' ';
    if (f->containing_oneof() != nullptr) out += f->containing_oneof()->name() + "/";
    out += f->name() + "=" + std::to_string(f->number()) + ":";
    if (f->message_type() != nullptr) {
      out += f->message_type()->full_name();
    } else if (f->enum_type() != nullptr) {
      out += f->enum_type()->full_name();
    } else {
      out += f->type_name();
    }
    if (f->is_repeated()) out += f->is_packed() ? "[packed]" : "[]";
  }
  return out;
}

TEST(SoftwareServerSchema, MessagesAndFieldsInDeclarationOrder) {
  const char* const shapes[][2] = {
      {"SoftwareServerRequest",
       "req/getSerialNumber=1:GetSerialNumberReq req/getFirmwareVersion=2:GetFirmwareVersionsReq "
       "req/sendPacketToGcu=3:SendPacketToGcu req/reconnect=4:ReconnectReq req/connect=5:ConnectReq "
       "req/showMessage=6:ShowMessageReq"},
      {"SoftwareServerResponse",
       "resp/getSerialNumber=1:GetSerialNumberResp resp/getFirmwareVersion=2:GetFirmwareVersionsResp "
       "resp/receivePacketFromGcu=3:ReceivePacketFromGcu resp/reconnect=4:ReconnectResp "
       "resp/connect=5:ConnectResp resp/showMessage=6:ShowMessageResp"},
      {"GetSerialNumberReq", ""},
      {"GetSerialNumberResp",
       "serialNo=1:string deviceMode=2:GetSerialNumberResp.DeviceMode deviceUsbVID=3:uint32 "
       "deviceUsbPID=4:uint32"},
      {"FirmwareVersion", "version=1:string"},
      {"GetFirmwareVersionsReq", "firmwareVersions=1:FirmwareVersion[]"},
      {"GetFirmwareVersionsResp", "version=1:string"},
      {"ReceivePacketFromGcu", "timestamp=1:uint32 data=2:bytes progress=3:int32 progressTotal=4:int32"},
      {"SendPacketToGcu", "timestamp=1:uint32 data=2:bytes progress=3:int32 progressTotal=4:int32"},
      {"ReconnectReq", ""},
      {"ReconnectResp", ""},
      {"ConnectReq", "serialNo=1:string"},
      {"ConnectResp", "result=2:Result"},
      {"ShowMessageReq",
       "messageTitle=1:string messageText=2:string messageInformativeText=3:string "
       "messageIcon=4:ShowMessageReq.Icon messageButtons=5:ShowMessageReq.Buttons[packed] "
       "defaultButton=6:ShowMessageReq.Buttons escapeButton=7:ShowMessageReq.Buttons"},
      {"ShowMessageResp", "clickedButton=1:ShowMessageResp.Buttons"},
  };
  const auto* file = SoftwareServerRequest::descriptor()->file();
  ASSERT_EQ(file->message_type_count(), static_cast<int>(std::size(shapes)));
  for (int i = 0; i < file->message_type_count(); ++i) {
    SCOPED_TRACE(shapes[i][0]);
    EXPECT_EQ(file->message_type(i)->name(), shapes[i][0]);
    EXPECT_EQ(Shape(file->message_type(i)), shapes[i][1]);
  }
  ASSERT_EQ(file->enum_type_count(), 1);
  EXPECT_EQ(file->enum_type(0), Result_descriptor());
}

// Names of an enum's values in declaration order.
std::string ValueNames(const google::protobuf::EnumDescriptor* e) {
  std::string out;
  for (int i = 0; i < e->value_count(); ++i) {
    out += (i ? " " : "") + e->value(i)->name() + "=" + std::to_string(e->value(i)->number());
  }
  return out;
}

TEST(SoftwareServerSchema, EnumValuesRangesAndValidity) {
  const std::string buttons =
      "bNoButton=0 bOk=1 bOpen=2 bSave=3 bCancel=4 bClose=5 bDiscard=6 bApply=7 bReset=8 "
      "bRestoreDefaults=9 bHelp=10 bSaveAll=11 bYes=12 bYesToAll=13 bNo=14 bNoToAll=15 bAbort=16 "
      "bRetry=17 bIgnore=18";
  struct Case {
    const google::protobuf::EnumDescriptor* descriptor;
    std::string values;
    std::function<bool(int)> is_valid;
    int min, max, arraysize;
  };
  const Case cases[] = {
      {Result_descriptor(), "Ok=0 Error=1", Result_IsValid, Result_MIN, Result_MAX, Result_ARRAYSIZE},
      {GetSerialNumberResp_DeviceMode_descriptor(), "LegacyMode=0 BootloaderMode=1 ApplicationMode=2",
       GetSerialNumberResp::DeviceMode_IsValid, GetSerialNumberResp::DeviceMode_MIN,
       GetSerialNumberResp::DeviceMode_MAX, GetSerialNumberResp::DeviceMode_ARRAYSIZE},
      {ShowMessageReq_Icon_descriptor(), "NoIcon=0 Question=4 Information=1 Warning=2 Critical=3",
       ShowMessageReq::Icon_IsValid, ShowMessageReq::Icon_MIN, ShowMessageReq::Icon_MAX,
       ShowMessageReq::Icon_ARRAYSIZE},
      {ShowMessageReq_Buttons_descriptor(), buttons, ShowMessageReq::Buttons_IsValid,
       ShowMessageReq::Buttons_MIN, ShowMessageReq::Buttons_MAX, ShowMessageReq::Buttons_ARRAYSIZE},
      {ShowMessageResp_Buttons_descriptor(), buttons, ShowMessageResp::Buttons_IsValid,
       ShowMessageResp::Buttons_MIN, ShowMessageResp::Buttons_MAX, ShowMessageResp::Buttons_ARRAYSIZE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.descriptor->full_name());
    EXPECT_EQ(ValueNames(c.descriptor), c.values);
    EXPECT_EQ(c.min, 0);
    EXPECT_EQ(c.arraysize, c.max + 1);
    EXPECT_EQ(c.max + 1, c.descriptor->value_count());  // contiguous 0..max
    EXPECT_TRUE(c.is_valid(c.max));
    EXPECT_FALSE(c.is_valid(c.max + 1));
    EXPECT_FALSE(c.is_valid(-1));
  }
  EXPECT_TRUE(ShowMessageReq_Icon_IsValid(4));
  EXPECT_FALSE(ShowMessageReq_Icon_IsValid(5));
  EXPECT_EQ(ShowMessageReq::Icon_MAX, ShowMessageReq::Question);
  EXPECT_EQ(ShowMessageReq_Icon_descriptor()->value(1)->name(), "Question");
  EXPECT_EQ(GetSerialNumberResp::BootloaderMode, 1);
  EXPECT_EQ(ShowMessageResp::bIgnore, 18);
  EXPECT_FALSE(ShowMessageReq_Buttons_IsValid(25));
  // One enum per message: a clicked button is converted by number, never shared.
  static_assert(!std::is_same<ShowMessageReq::Buttons, ShowMessageResp::Buttons>::value);
  EXPECT_NE(ShowMessageReq_Buttons_descriptor(), ShowMessageResp_Buttons_descriptor());
}

// The messages the server and the tools exchange, built and as they travel.
TEST(SoftwareServerWire, ExamplesBothDirections) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Message>()> build;
    std::string wire;
  };
  const Case cases[] = {
      {"empty request", [] { return std::make_unique<SoftwareServerRequest>(); }, ""},
      {"reconnect request",
       [] {
         auto m = std::make_unique<SoftwareServerRequest>();
         m->mutable_reconnect();
         return m;
       },
       Bytes({0x22, 0x00})},
      {"serial number request",
       [] {
         auto m = std::make_unique<SoftwareServerRequest>();
         m->mutable_getserialnumber();
         return m;
       },
       Bytes({0x0A, 0x00})},
      {"serial number answer, USB identity beyond 16 bits",
       [] {
         auto m = std::make_unique<SoftwareServerResponse>();
         auto* r = m->mutable_getserialnumber();
         r->set_serialno("G7");
         r->set_devicemode(GetSerialNumberResp::ApplicationMode);
         r->set_deviceusbvid(0x10000);
         r->set_deviceusbpid(0xFFFFFFFFu);
         return m;
       },
       Bytes({0x0A, 0x10, 0x0A, 0x02, 'G', '7', 0x10, 0x02, 0x18, 0x80, 0x80, 0x04, 0x20, 0xFF, 0xFF,
              0xFF, 0xFF, 0x0F})},
      {"connect answer Error",
       [] {
         auto m = std::make_unique<ConnectResp>();
         m->set_result(Error);
         return m;
       },
       Bytes({0x10, 0x01})},
      {"connect answer Ok", [] {
         auto m = std::make_unique<ConnectResp>();
         m->set_result(Ok);
         return m;
       },
       ""},
      {"empty connect answer in the envelope",
       [] {
         auto m = std::make_unique<SoftwareServerResponse>();
         m->mutable_connect();
         return m;
       },
       Bytes({0x2A, 0x00})},
      {"packet to the unit",
       [] {
         auto m = std::make_unique<SoftwareServerRequest>();
         auto* p = m->mutable_sendpackettogcu();
         p->set_timestamp(0xFFFFFFFFu);
         p->set_data(Bytes({0x00, 0xFF}));
         p->set_progress(3);
         p->set_progresstotal(10);
         return m;
       },
       Bytes({0x1A, 0x0E, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x12, 0x02, 0x00, 0xFF, 0x18, 0x03, 0x20,
              0x0A})},
      {"negative progress from the unit",
       [] {
         auto m = std::make_unique<ReceivePacketFromGcu>();
         m->set_progress(-1);
         return m;
       },
       Bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"firmware versions with an empty entry",
       [] {
         auto m = std::make_unique<SoftwareServerRequest>();
         auto* v = m->mutable_getfirmwareversion();
         v->add_firmwareversions()->set_version("1.0");
         v->add_firmwareversions();
         return m;
       },
       Bytes({0x12, 0x09, 0x0A, 0x05, 0x0A, 0x03, '1', '.', '0', 0x0A, 0x00})},
      {"firmware version answer",
       [] {
         auto m = std::make_unique<SoftwareServerResponse>();
         m->mutable_getfirmwareversion()->set_version("2");
         return m;
       },
       Bytes({0x12, 0x03, 0x0A, 0x01, '2'})},
      {"two buttons", [] {
         auto m = std::make_unique<ShowMessageReq>();
         m->add_messagebuttons(ShowMessageReq::bOk);
         m->add_messagebuttons(ShowMessageReq::bCancel);
         return m;
       },
       Bytes({0x2A, 0x02, 0x01, 0x04})},
      {"question icon", [] {
         auto m = std::make_unique<ShowMessageReq>();
         m->set_messageicon(ShowMessageReq::Question);
         return m;
       },
       Bytes({0x20, 0x04})},
      {"whole message box",
       [] {
         auto m = std::make_unique<SoftwareServerRequest>();
         auto* s = m->mutable_showmessage();
         s->set_messagetitle("T");
         s->set_messagetext("x");
         s->set_messageinformativetext("i");
         s->set_messageicon(ShowMessageReq::Warning);
         s->add_messagebuttons(ShowMessageReq::bYes);
         s->add_messagebuttons(ShowMessageReq::bNo);
         s->set_defaultbutton(ShowMessageReq::bYes);
         s->set_escapebutton(ShowMessageReq::bNo);
         return m;
       },
       Bytes({0x32, 0x13, 0x0A, 0x01, 'T', 0x12, 0x01, 'x', 0x1A, 0x01, 'i', 0x20, 0x02, 0x2A, 0x02,
              0x0C, 0x0E, 0x30, 0x0C, 0x38, 0x0E})},
      {"clicked button", [] {
         auto m = std::make_unique<SoftwareServerResponse>();
         m->mutable_showmessage()->set_clickedbutton(ShowMessageResp::bYesToAll);
         return m;
       },
       Bytes({0x32, 0x02, 0x08, 0x0D})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto built = c.build();
    EXPECT_WIRE_ROUND_TRIP(*built, c.wire);
  }
}

TEST(SoftwareServerWire, ParsedValuesKeepTheirWidth) {
  SoftwareServerResponse resp;
  ASSERT_TRUE(resp.ParseFromString(Bytes({0x0A, 0x0A, 0x18, 0x80, 0x80, 0x04, 0x20, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0x0F})));
  EXPECT_EQ(resp.getserialnumber().deviceusbvid(), 0x10000u);
  EXPECT_EQ(resp.getserialnumber().deviceusbpid(), 0xFFFFFFFFu);

  // The time stamp is 32 bits: a wider varint keeps only its low 32 bits.
  SendPacketToGcu packet;
  ASSERT_TRUE(packet.ParseFromString(Bytes({0x08, 0x85, 0x80, 0x80, 0x80, 0x10, 0x18, 0xFF, 0xFF, 0xFF,
                                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})));
  EXPECT_EQ(packet.timestamp(), 5u);
  EXPECT_EQ(packet.progress(), -1);
}

// Collects what the runtime logs at error level while it is alive.
class ErrorLog {
 public:
  ErrorLog() : previous_(google::protobuf::SetLogHandler(&Record)) { Text().clear(); }
  ~ErrorLog() { google::protobuf::SetLogHandler(previous_); }
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  static std::string& Text() {
    static std::string text;
    return text;
  }

 private:
  static void Record(google::protobuf::LogLevel level, const char*, int, const std::string& message) {
    if (level >= google::protobuf::LOGLEVEL_ERROR) Text() += message + "\n";
  }
  google::protobuf::LogHandler* previous_;
};

TEST(SoftwareServerWire, TextFieldsMustBeUtf8) {
  struct Case {
    const char* field;  // as the runtime names it
    const Message& prototype;
    int key;
    void (*set)(Message*, const std::string&);
  };
  const Case cases[] = {
      {"GetSerialNumberResp.serialNo", GetSerialNumberResp::default_instance(), 0x0A,
       [](Message* m, const std::string& v) { static_cast<GetSerialNumberResp*>(m)->set_serialno(v); }},
      {"FirmwareVersion.version", FirmwareVersion::default_instance(), 0x0A,
       [](Message* m, const std::string& v) { static_cast<FirmwareVersion*>(m)->set_version(v); }},
      {"GetFirmwareVersionsResp.version", GetFirmwareVersionsResp::default_instance(), 0x0A,
       [](Message* m, const std::string& v) { static_cast<GetFirmwareVersionsResp*>(m)->set_version(v); }},
      {"ConnectReq.serialNo", ConnectReq::default_instance(), 0x0A,
       [](Message* m, const std::string& v) { static_cast<ConnectReq*>(m)->set_serialno(v); }},
      {"ShowMessageReq.messageTitle", ShowMessageReq::default_instance(), 0x0A,
       [](Message* m, const std::string& v) { static_cast<ShowMessageReq*>(m)->set_messagetitle(v); }},
      {"ShowMessageReq.messageText", ShowMessageReq::default_instance(), 0x12,
       [](Message* m, const std::string& v) { static_cast<ShowMessageReq*>(m)->set_messagetext(v); }},
      {"ShowMessageReq.messageInformativeText", ShowMessageReq::default_instance(), 0x1A,
       [](Message* m, const std::string& v) {
         static_cast<ShowMessageReq*>(m)->set_messageinformativetext(v);
       }},
  };
  const std::string wire_invalid = Bytes({0xFF});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    std::unique_ptr<Message> m(c.prototype.New());
    ASSERT_TRUE(m->ParseFromString(Bytes({c.key, 0x02, 0xC3, 0xA9})));  // "é" is fine
    {
      ErrorLog log;
      EXPECT_FALSE(m->ParseFromString(Bytes({c.key, 0x01, 0xFF})));
      EXPECT_NE(ErrorLog::Text().find(c.field), std::string::npos) << ErrorLog::Text();
    }
    m->Clear();
    c.set(m.get(), wire_invalid);
    ErrorLog log;
    EXPECT_WIRE(*m, Bytes({c.key, 0x01, 0xFF}));
    EXPECT_NE(ErrorLog::Text().find(c.field), std::string::npos) << ErrorLog::Text();
  }
  // The packet's data is bytes: no check.
  SendPacketToGcu packet;
  EXPECT_TRUE(packet.ParseFromString(Bytes({0x12, 0x01, 0xFF})));
}

TEST(SoftwareServerOneof, LaterMemberWinsSameMemberMerges) {
  SoftwareServerRequest req;
  ASSERT_TRUE(req.ParseFromString(Bytes({0x0A, 0x00, 0x22, 0x00})));
  EXPECT_EQ(req.req_case(), SoftwareServerRequest::kReconnect);
  EXPECT_FALSE(req.has_getserialnumber());

  ASSERT_TRUE(req.ParseFromString(Bytes({0x32, 0x03, 0x0A, 0x01, 'T', 0x32, 0x04, 0x20, 0x01, 0x28, 0x02,
                                         0x32, 0x02, 0x28, 0x04})));
  ASSERT_EQ(req.req_case(), SoftwareServerRequest::kShowMessage);
  EXPECT_EQ(req.showmessage().messagetitle(), "T");
  EXPECT_EQ(req.showmessage().messageicon(), ShowMessageReq::Information);
  EXPECT_EQ(req.showmessage().messagebuttons_size(), 2);

  SoftwareServerResponse resp;
  ASSERT_TRUE(resp.ParseFromString(Bytes({0x1A, 0x02, 0x08, 0x01, 0x2A, 0x02, 0x10, 0x01})));
  ASSERT_EQ(resp.resp_case(), SoftwareServerResponse::kConnect);
  EXPECT_EQ(resp.connect().result(), Error);
  EXPECT_EQ(SoftwareServerResponse::kReceivePacketFromGcu, 3);
  EXPECT_EQ(SoftwareServerResponse::RESP_NOT_SET, 0);
}

TEST(SoftwareServerOneof, SetAllocatedReplacesOrClears) {
  SoftwareServerRequest req;
  req.mutable_connect()->set_serialno("A1");
  req.set_allocated_showmessage(nullptr);
  EXPECT_EQ(req.req_case(), SoftwareServerRequest::REQ_NOT_SET);
  EXPECT_WIRE(req, "");

  req.mutable_connect()->set_serialno("A1");
  auto* box = new ShowMessageReq;
  box->set_escapebutton(ShowMessageReq::bCancel);
  req.set_allocated_showmessage(box);
  EXPECT_EQ(req.req_case(), SoftwareServerRequest::kShowMessage);
  EXPECT_EQ(&req.showmessage(), box);
  EXPECT_WIRE(req, Bytes({0x32, 0x02, 0x38, 0x04}));

  SoftwareServerResponse resp;
  resp.set_allocated_reconnect(new ReconnectResp);
  EXPECT_WIRE(resp, Bytes({0x22, 0x00}));
  resp.set_allocated_receivepacketfromgcu(nullptr);
  EXPECT_EQ(resp.resp_case(), SoftwareServerResponse::RESP_NOT_SET);
}

TEST(SoftwareServerOneof, MergeFollowsTheSourceCase) {
  SoftwareServerResponse target;
  target.mutable_connect()->set_result(Error);
  SoftwareServerResponse source;
  target.MergeFrom(source);  // nothing set in the source: target unchanged
  EXPECT_EQ(target.resp_case(), SoftwareServerResponse::kConnect);

  source.mutable_showmessage()->set_clickedbutton(ShowMessageResp::bRetry);
  target.MergeFrom(source);
  ASSERT_EQ(target.resp_case(), SoftwareServerResponse::kShowMessage);
  EXPECT_EQ(target.showmessage().clickedbutton(), ShowMessageResp::bRetry);
}

TEST(SoftwareServerButtons, PackedAndUnpackedFormsAndOpenValues) {
  struct Case {
    const char* name;
    std::string wire;
    std::vector<int> buttons;
    std::string rewritten;
  };
  const Case cases[] = {
      {"unpacked", Bytes({0x28, 0x01, 0x28, 0x04}), {1, 4}, Bytes({0x2A, 0x02, 0x01, 0x04})},
      {"unpacked then packed", Bytes({0x28, 0x01, 0x2A, 0x01, 0x04}), {1, 4},
       Bytes({0x2A, 0x02, 0x01, 0x04})},
      {"packed then unpacked", Bytes({0x2A, 0x02, 0x04, 0x01, 0x28, 0x12}), {4, 1, 18},
       Bytes({0x2A, 0x03, 0x04, 0x01, 0x12})},
      {"undeclared value", Bytes({0x2A, 0x01, 0x19}), {25}, Bytes({0x2A, 0x01, 0x19})},
      {"negative value", Bytes({0x28, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}), {-1},
       Bytes({0x2A, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShowMessageReq m;
    ASSERT_TRUE(m.ParseFromString(c.wire));
    EXPECT_EQ(std::vector<int>(m.messagebuttons().begin(), m.messagebuttons().end()), c.buttons);
    EXPECT_WIRE(m, c.rewritten);
  }
  ShowMessageReq cut;
  EXPECT_FALSE(cut.ParseFromString(Bytes({0x2A, 0x03, 0x01, 0x04})));

  // Undeclared singular enum values travel unchanged as well.
  ShowMessageResp clicked;
  ASSERT_TRUE(clicked.ParseFromString(Bytes({0x08, 0x19})));
  EXPECT_EQ(clicked.clickedbutton(), 25);
  EXPECT_WIRE(clicked, Bytes({0x08, 0x19}));
  ConnectResp result;
  ASSERT_TRUE(result.ParseFromString(Bytes({0x10, 0x07, 0x08, 0x01})));  // field 1 is not ours
  EXPECT_EQ(result.result(), 7);
  EXPECT_EQ(result.GetReflection()->GetUnknownFields(result).field_count(), 1);
  EXPECT_WIRE(result, Bytes({0x10, 0x07, 0x08, 0x01}));
}

}  // namespace
