/*
 * same_outputs_test.cpp --
 *
 *	Every output of wirepaint, byte for byte, against the outputs of a
 *	reference build: statistics, events, the CSV table, the connection
 *	list, the ladder picture and the graph pictures of every bundled
 *	capture, of the bundled pairs and of a generated benchmark pair, and
 *	the detail text of every segment. The reference is one SHA-256 per
 *	(capture, mode) row, so a change to how the trace is held that moves
 *	any output names the row it moved.
 *
 *	A deliberate change of an output regenerates only the rows it moves:
 *	WIREPAINT_PRINT_DIGESTS=1 makes the tests print every row as a table
 *	line instead of comparing it, and the rows that moved are replaced,
 *	each with a comment saying which change moved it.
 */

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "load/loader.h"
#include "text/detail.h"
#include "trace/trace.h"

namespace {

/* The reference outputs, made by the build this work started from
 * (36c046d). Captures under examples/ are named as they are,
 * "bench-*" are the generated pair (gen_capture -n 100000); a mode is
 * wirepaint's options, with OUT for the picture file it writes. */
struct digest_row {
    const char *captures;
    const char *mode;
    const char *sha256;
};

const digest_row kRows[] = {
    {"sender.pcap", "-S", "16b2975e4c3d4064d8ad816ec306e5d94e5bc10db4727d835228aada58d59b7c"},
    {"sender.pcap", "-E", "1b876ef252ece8cdfbe2561fc7931dfd3879df8746d49036bcaf295980f01e4c"},
    {"sender.pcap", "-x -", "24d4450f59c2900b9b16bfb3251a6ff1f5c448b52e8ceb36f55ae794e2ab83bf"},
    {"sender.pcap", "-L", "79500ae694b8f759561c20ca66bfaa95fe017099518fe62537a7190235eef3f1"},
    {"sender.pcap", "-o OUT.svg", "733140431bb95b416121d8bc2be8aa0bafde3659b393a17a01ac27bb0151b200"},
    {"sender.pcap", "-G tsg -o OUT.svg", "f99faa731478afe136169f8129cafbfff9a38e63a1f5c0a93701f35d48a2d72f"},
    {"sender.pcap", "-G tput -o OUT.svg", "18a6d7e25f6175945f913dc7b5dc3400a7861ff79024f613facaf189c3824a60"},
    {"sender.pcap", "-G rtt -o OUT.svg", "3ae37bafb47d84754403071414f36d6d9a5deba3b9508c6dfc91445723bd6a2a"},
    {"sender.pcap", "-G owd -o OUT.svg", "da4f4b6267755e122a5a3449c4866894d0d20b40429afa3c232e9613e4042c1d"},
    {"sender.pcap", "-G inflight -o OUT.svg", "df479aaf6df76a83c561805728f35c9016b0297412430cc6dc8eb3f81b943cdf"},
    {"sender.pcap", "-G tsg:RL -o OUT.png", "8f36d64feb7eef2d2d34017bf675c57b2a6ddee89d68f60f59244893abda5bb9"},
    {"receiver.pcap", "-S", "47a83a94908f7454b43c53b08475c381005118f11d45e40f7d59fa25c3e0ff9a"},
    {"receiver.pcap", "-E", "138e4ff956f3505b6a2baf74b8d810d5ed44d7205deb57c84b480524830aae36"},
    {"receiver.pcap", "-x -", "f61fc5ea8e4d82fdbf035070dbe5f16e1b61d12ce1780af2dd34755ae5e488a5"},
    {"receiver.pcap", "-L", "e68a88884a94d0ea4f8d0cb6cfc6c9b68bfa0a0facdf378bf9fb473196ce8681"},
    {"receiver.pcap", "-o OUT.svg", "01ed4d390f22e4f7e9c08c9330392be33577fefa6aa31f41bda8bc735548d3d4"},
    {"receiver.pcap", "-G tsg -o OUT.svg", "e3e34570aeb6f0a9b739342a111b6da1ecf84b9248fc2f1f2b2e6758902038a7"},
    {"receiver.pcap", "-G tput -o OUT.svg", "68b4f053a7b8815309e3652d8978b35fd8ec6b78dca671b0e1eb906b78b17b82"},
    {"receiver.pcap", "-G rtt -o OUT.svg", "25dace34d161509f11f0d380d3fa4acb4f20df46cea345f08bd0d1516ac43f71"},
    {"receiver.pcap", "-G owd -o OUT.svg", "c2572264876ab533aa94024b8ec16bf433c4a80a4c0672c5086c80b6586bfd15"},
    {"receiver.pcap", "-G inflight -o OUT.svg", "adc65f3182ec806a32e620df0e73e9c3e1fb948356f98853c74b92a564ffc272"},
    {"receiver.pcap", "-G tsg:RL -o OUT.png", "238463f720be73f9fb90008ca1f1cc8fdb07d6807cc61d90e9955f8ccb9736d2"},
    {"sender.pcapng", "-S", "16b2975e4c3d4064d8ad816ec306e5d94e5bc10db4727d835228aada58d59b7c"},
    {"sender.pcapng", "-E", "1b876ef252ece8cdfbe2561fc7931dfd3879df8746d49036bcaf295980f01e4c"},
    {"sender.pcapng", "-x -", "24d4450f59c2900b9b16bfb3251a6ff1f5c448b52e8ceb36f55ae794e2ab83bf"},
    {"sender.pcapng", "-L", "a7a78eb3669eb8fba70ffbe959148cff98ba6b9b1a3deb2490f03d85f20a6475"},
    {"sender.pcapng", "-o OUT.svg", "733140431bb95b416121d8bc2be8aa0bafde3659b393a17a01ac27bb0151b200"},
    {"sender.pcapng", "-G tsg -o OUT.svg", "f99faa731478afe136169f8129cafbfff9a38e63a1f5c0a93701f35d48a2d72f"},
    {"sender.pcapng", "-G tput -o OUT.svg", "18a6d7e25f6175945f913dc7b5dc3400a7861ff79024f613facaf189c3824a60"},
    {"sender.pcapng", "-G rtt -o OUT.svg", "3ae37bafb47d84754403071414f36d6d9a5deba3b9508c6dfc91445723bd6a2a"},
    {"sender.pcapng", "-G owd -o OUT.svg", "da4f4b6267755e122a5a3449c4866894d0d20b40429afa3c232e9613e4042c1d"},
    {"sender.pcapng", "-G inflight -o OUT.svg", "df479aaf6df76a83c561805728f35c9016b0297412430cc6dc8eb3f81b943cdf"},
    {"sender.pcapng", "-G tsg:RL -o OUT.png", "8f36d64feb7eef2d2d34017bf675c57b2a6ddee89d68f60f59244893abda5bb9"},
    {"bulk-loss-sender.pcap", "-S", "fc97c8b8b1b226ee32d8e0dcf9ae4e3745f5ea202c63e4de75fa294175571e6b"},
    {"bulk-loss-sender.pcap", "-E", "9600992e0e570f7dd2a377bcfbc3170b57d20b0e34b751e22272c72bd9f2cc0e"},
    {"bulk-loss-sender.pcap", "-x -", "bf0cd89f0607c8f979bc6cd8b2238b9444ab74eaa142df38d77d52fba9acaa3d"},
    {"bulk-loss-sender.pcap", "-L", "87367cb9b3c83ca710ce37df6e7a2b9b84f1a1ec195e67abe4e42ce7df77dc22"},
    {"bulk-loss-sender.pcap", "-o OUT.svg", "150f5000edd61560868ca87b99fa7e007502f23a278ae289cbca1457d56048a4"},
    {"bulk-loss-sender.pcap", "-G tsg -o OUT.svg", "f913407c1ae1fad505651ebfd3f76747a6cb09f260b1a581d9e4c6d1f58b0924"},
    {"bulk-loss-sender.pcap", "-G tput -o OUT.svg", "a787017c34b988d2465be4955260b7126470ace42a58fa522f9faad47c8268c9"},
    {"bulk-loss-sender.pcap", "-G rtt -o OUT.svg", "fc47d3e17e161c9c880b86d7648f6dfebf423d37aa01ae7ba594fd227a27f10f"},
    {"bulk-loss-sender.pcap", "-G owd -o OUT.svg", "082c1dc324b817749e58ecad834465259d48745a021346d914dd063ffd7cf6d4"},
    {"bulk-loss-sender.pcap", "-G inflight -o OUT.svg", "18434de691ce534e430d36d4a68fa103f6dd5bcd105a1ca52084a0c247789e50"},
    {"bulk-loss-sender.pcap", "-G tsg:RL -o OUT.png", "03d2460db37cc628551a57059cbe3737d91f289422f28644be3f1bd0f64dab72"},
    {"bulk-loss-receiver.pcap", "-S", "cdc3853853affa3cf3f9a24df036d12edc6ce8a085d9502e68ece310ee4ac293"},
    {"bulk-loss-receiver.pcap", "-E", "82165dc12cae7927238013ffc9997447aecfe3a9d4b68f1873737f6e34bfe56f"},
    {"bulk-loss-receiver.pcap", "-x -", "aa78c636ed44c2ef0e3156ad7915a76614024b8d35fdcd89c4180ca2d198a627"},
    {"bulk-loss-receiver.pcap", "-L", "9c6638ef1c2289ced25a8c5c5f649c820b3d71e68d20c0821f44988dc6538c5f"},
    {"bulk-loss-receiver.pcap", "-o OUT.svg", "4562af6684ab66e94b586a9ad73f31a19fe7da30607b5a1cb1d886cc2bd1e838"},
    {"bulk-loss-receiver.pcap", "-G tsg -o OUT.svg", "34899caf0cc1db96947f45231b529ea513322d0fadead201cc2fa06878a20a8d"},
    {"bulk-loss-receiver.pcap", "-G tput -o OUT.svg", "ef9f6725b5826570ad6c00f3ddee915af47cb4ad54a087537aa3c119025595d0"},
    {"bulk-loss-receiver.pcap", "-G rtt -o OUT.svg", "36b11e086c3e62f7952cb82066dbfa76f7d8f435e7660a5fb5cd95ddf099612a"},
    {"bulk-loss-receiver.pcap", "-G owd -o OUT.svg", "bc585e2ff02a1c6365cc89b87f7797c3bc5cc7a0f86a6959a9a6b38d995933f1"},
    {"bulk-loss-receiver.pcap", "-G inflight -o OUT.svg", "2ef1239ab1e6726bf38fcd30fb282cbea2bd93c89611eacf06aafcf0c6ad4769"},
    {"bulk-loss-receiver.pcap", "-G tsg:RL -o OUT.png", "8032e395ab9501a7b3e14a5b0dcf1a0103bdba507f503911721736201e923f3a"},
    {"drift-sender.pcap", "-S", "957f89b7fdaae3eb5cbd450bc70adb9c644c765ce4382df886f052cb035b4854"},
    {"drift-sender.pcap", "-E", "69cc057caf1259908ee207492df3d21cb99105c63648e7061515fb80968bb187"},
    {"drift-sender.pcap", "-x -", "317b7e42d534c609044a53d84da502b543ae61404130cf07dfdbb47ceae2f83b"},
    {"drift-sender.pcap", "-L", "324ee4c2e4ea0f3f3d5b4f67090802b0c5cfc2915b3af5a0d0d033f1c0d1a544"},
    {"drift-sender.pcap", "-o OUT.svg", "7e48302c54b2df12ad0a72e13f3eabbf1abec3ec014fc82053c0419db989a404"},
    {"drift-sender.pcap", "-G tsg -o OUT.svg", "fcf11175fba0bd6612465daa3ddf0f8c030cf48be75276f21e94d794bdb202f8"},
    {"drift-sender.pcap", "-G tput -o OUT.svg", "ab915664ff40c91100e91485613547e7b0fcce0a90705e0350573e5cda0a67f1"},
    {"drift-sender.pcap", "-G rtt -o OUT.svg", "3715e161382efbaf26e6c80c8155031759de395c32c627276ad34ea5a2617162"},
    {"drift-sender.pcap", "-G owd -o OUT.svg", "b09a253466f0ec1d5f067a93f860b734637bb4226fcf280e7654612316ded28e"},
    {"drift-sender.pcap", "-G inflight -o OUT.svg", "0452b7eb7e56d5d671e0de3f034e7650536ce2ffe6c065310347ea86f6aa396d"},
    {"drift-sender.pcap", "-G tsg:RL -o OUT.png", "5e3fa65a95e55a74b6caaa5c002983919da5aa3e4c7737b58ba640ec4812675f"},
    {"drift-receiver.pcap", "-S", "8fa531136cf02a52f14fd334de925a2af9e521edd213d21a139fce8d1be02daa"},
    {"drift-receiver.pcap", "-E", "b3a7eaf5385e1eef5514366d659079f8e0b1970a6cda1f7c6b5e001b481f2192"},
    {"drift-receiver.pcap", "-x -", "59b4ab2ccbb9fb0b040b6b8279e0d4dc71138e4e1b67084eebaa7c3199ec0765"},
    {"drift-receiver.pcap", "-L", "3f1f0df6defdabc888bb7315bb7143d0757e07e696eec8ba3da7fd8c6ae646fa"},
    {"drift-receiver.pcap", "-o OUT.svg", "704dc3c2a34bcc5c1187b7d45b0f9a3a8d62d4a77e6c209e171ad9e1553e7fd7"},
    {"drift-receiver.pcap", "-G tsg -o OUT.svg", "c2b6cbb07dae80635e6023075759c59e6a63643fdf891d4f2dd0786d53d6c4fe"},
    {"drift-receiver.pcap", "-G tput -o OUT.svg", "4634a473f84420af52b51532e671fcaf43931a88d0d4fd86f4ce5a6345d781a8"},
    {"drift-receiver.pcap", "-G rtt -o OUT.svg", "69870744895011545753c48e40e1965ef19291bbfca6aac529956959bdcb1fb7"},
    {"drift-receiver.pcap", "-G owd -o OUT.svg", "158827facf96ccb91ae43fa06e32abc7ab9efe53ab26e9b8d998663f41aef46e"},
    {"drift-receiver.pcap", "-G inflight -o OUT.svg", "cc48f79502b4214ca4d3b134867f76cbbfcf80b3b274316c4e849d9e627c41d6"},
    {"drift-receiver.pcap", "-G tsg:RL -o OUT.png", "7a8d9b49ee641f085a90521caafd2e05fd6519d31dd8863c7d1df89b10a11bc4"},
    {"keepalive.pcap", "-S", "88af2cf587a7651ad88817f83c666eb4841291d43037ddfa8e00809970f6a09b"},
    {"keepalive.pcap", "-E", "e4925166a6d4b2af3d4488a5fd486cde0af2776b4a15f900fed0ee002eb4142f"},
    {"keepalive.pcap", "-x -", "6d857f644545af89b71ad7dc217568abc28a704e4882ce483d1f3280de131a8c"},
    {"keepalive.pcap", "-L", "640acc42b244d334be74aee2730a036055ec1a226edbfff37dc290e49ac2221a"},
    {"keepalive.pcap", "-o OUT.svg", "c66ce4f174e7ec21a5737cbce2535cc150ee678f9747dcdeeaa521ac78f16698"},
    {"keepalive.pcap", "-G tsg -o OUT.svg", "d1e1b1b7a6903a85e5b087a99bc58a59bbe647e58ccca677875cae9ec33f0aed"},
    {"keepalive.pcap", "-G tput -o OUT.svg", "3d137b4f4bc6f52e63b234ddf0c84de6991504240090b74260b9bf5fb3043ee1"},
    {"keepalive.pcap", "-G rtt -o OUT.svg", "33cac907eb1d701e2eac64b96c9602811ba4ac3d25f69e7349415c62e6c2d7e5"},
    {"keepalive.pcap", "-G owd -o OUT.svg", "9f0c358ed9c699a4a1ffa96cd26ec8b02f86ad90a9112f746764ba6f1b765473"},
    {"keepalive.pcap", "-G inflight -o OUT.svg", "5c756d85323ece172250b46da0c19819c43da22bb18a6f8cba0c275e26b79cff"},
    {"keepalive.pcap", "-G tsg:RL -o OUT.png", "c9cd2abda6c729edf5f5aca04730bacc7589faa6230747580386cdda031187f0"},
    {"lan-client.pcap", "-S", "43f26f2a90cc1d3356c751d397d0398d779911b9926dcf9ffa01fa36b7dee217"},
    {"lan-client.pcap", "-E", "ee6d669e403633a699dbcb905aefb9143481b49ec00cd266e99451112236f90f"},
    {"lan-client.pcap", "-x -", "a44e52d080d545cfd16aa536a42a815c61e7b8c0190363478ef6b8a495e6cf19"},
    {"lan-client.pcap", "-L", "d09fee7f142177fa7f26251aec76c18016ef20fd4f4ffc5de8a8bd8d1816a7ff"},
    {"lan-client.pcap", "-o OUT.svg", "1b4c6756e7b398c104051d0c1194516ea6cc260379b540881dce2c07f843eaa7"},
    {"lan-client.pcap", "-G tsg -o OUT.svg", "14f20b1861b0dc9c39c5f6c98fd3d5a49f664b98c6538ad880c472149fbba9e9"},
    {"lan-client.pcap", "-G tput -o OUT.svg", "c8d071dff099084837a1b5b2206d75d3e40cdef0450998354fea720ce94700b8"},
    {"lan-client.pcap", "-G rtt -o OUT.svg", "12465b571838a665f94fc2201eb0a6ee628c73d90d34b327dbd988a2b27a726c"},
    {"lan-client.pcap", "-G owd -o OUT.svg", "f2baa13b2edbd397d53b5ac30b6f386234ce55d4c4a2e0348bd3b235ab0081e4"},
    {"lan-client.pcap", "-G inflight -o OUT.svg", "c367e0a42ffb231919059f18a51a5c620cf371ac593e79a72d919284d641cbd2"},
    {"lan-client.pcap", "-G tsg:RL -o OUT.png", "073cbf4ad3a654b612ec1c3c0081a9d1309a000b1aea998a01cbe305d43d682d"},
    {"lan-server.pcap", "-S", "a384f8be05c35d3e94c432f7b8f402d4b16b4827b72cc6d203b5df516b22a22d"},
    {"lan-server.pcap", "-E", "69254412daf5aae8b89026333bbd5e0d517395a04295aa62d8e1c1e6999f65c7"},
    {"lan-server.pcap", "-x -", "a6941b3cdc88835f28a7470c3f4d5f2dd29072246c9e2beb89a24bf2b74a5015"},
    {"lan-server.pcap", "-L", "8e269c23c4601f7c4419d80937e95eaba732a9cf1d9c3b7bfce9d3dad0043c23"},
    {"lan-server.pcap", "-o OUT.svg", "30cc96c2c54e819964563ecc85107736079fb6dfe69278cb7333b731a61ac1b8"},
    {"lan-server.pcap", "-G tsg -o OUT.svg", "43506314829702790bc0813a0071f21b83930797eb90258343639348f2b3f977"},
    {"lan-server.pcap", "-G tput -o OUT.svg", "967d145240c8e64c3c07005a57adae2359b8a45c9170c2b3c4cb3888d48954af"},
    {"lan-server.pcap", "-G rtt -o OUT.svg", "7e35e0582e1a7cf4f665422ad8ccae0d5a8fda540b81da27a1ad57c6e5b0c37b"},
    {"lan-server.pcap", "-G owd -o OUT.svg", "06715456a3472a09707141af6814af343dfe26e0a3ac9afc1419badab051d4fd"},
    {"lan-server.pcap", "-G inflight -o OUT.svg", "88a8c1d466efe7d230514351c71b948a2a3cb39d762cf13beb0064bd8eddd67a"},
    {"lan-server.pcap", "-G tsg:RL -o OUT.png", "b33ca7a83e73299d304807b080db0019f2e413d0506ca80526cde7511bc07581"},
    {"loopback-any-sll.pcap", "-S", "6c5cba2e2c7f6d0f7f16b0924f7c6919b03d28cc42c299397b6fc9990772774b"},
    {"loopback-any-sll.pcap", "-E", "c22b8494cf16b7222ddaf3d2b05818ca80892cb7d6377745d2d6b6a39bd17e43"},
    {"loopback-any-sll.pcap", "-x -", "91d8105054bbcf76974c4632a7500e527d09faa7397c422d807f8e715c9058ca"},
    {"loopback-any-sll.pcap", "-L", "3d621c8c6ee1ff9cb41911486259e02ebf7451c3bea01e4fcbaa382c759c3e56"},
    {"loopback-any-sll.pcap", "-o OUT.svg", "7097a580f85e0f2db27954fab967b490e659dc283ba6d7284b4caf676ab3e78d"},
    {"loopback-any-sll.pcap", "-G tsg -o OUT.svg", "e4228ef4393bfe61fbea7ce30578f204da1ad95e70ddcacb4fd14dc8ec5a270a"},
    {"loopback-any-sll.pcap", "-G tput -o OUT.svg", "3fa5afdff9ad0f0cf6d207f0a45d0c054d0d036eb2970ac6527f4683e1950fda"},
    {"loopback-any-sll.pcap", "-G rtt -o OUT.svg", "6d9012fef5fed0808ede89917fa77604562337b1d8cc3ea6b60075f79c4d8172"},
    {"loopback-any-sll.pcap", "-G owd -o OUT.svg", "184a5f15d37156785d91c582db11256bc004b33f30f604fc4314e4ef4ecbd8da"},
    {"loopback-any-sll.pcap", "-G inflight -o OUT.svg", "ad727a50e66937bfd05f134e2102dcae17f6d32b502a870d1cdbd4a21b5434a2"},
    {"loopback-any-sll.pcap", "-G tsg:RL -o OUT.png", "915efe2cc5a4951fbdb3265d7fb57a3f50099e6f67672ed9be1370d133e1a3bd"},
    {"loopback-any.pcap", "-S", "697a8d1c32d0d299f940dcc2436aa19598108b3b4cf2078fa0eeb6fa148cbe53"},
    {"loopback-any.pcap", "-E", "c22b8494cf16b7222ddaf3d2b05818ca80892cb7d6377745d2d6b6a39bd17e43"},
    {"loopback-any.pcap", "-x -", "a165220d3e751933ca715df078f431ecece325c7dd3b1e165b71516234967027"},
    {"loopback-any.pcap", "-L", "4f45ce3d011b7056ca9beb6f3955d392cc49e2490d925852e8a40e7e2d99bfd8"},
    {"loopback-any.pcap", "-o OUT.svg", "6d5d7a6493da1b179faf89ccb8b33b52231ec3ebb2f354fe35d57fb35020d54c"},
    {"loopback-any.pcap", "-G tsg -o OUT.svg", "867da6a809f0d5e66e22d53349772561c3f204cf54e61a47d77e430a6ea695d6"},
    {"loopback-any.pcap", "-G tput -o OUT.svg", "5041ce54f0271d19df3d164e46977ec34a2ebecc056b7247ef0e589e961bef3c"},
    {"loopback-any.pcap", "-G rtt -o OUT.svg", "3da73c584166983d16025ec6eee72878660038cbf8eb39c94313bc9547a22d79"},
    {"loopback-any.pcap", "-G owd -o OUT.svg", "37560c0d038e7660ae4365d1dfd8b69b13d255975382a2646dd4e8b647721268"},
    {"loopback-any.pcap", "-G inflight -o OUT.svg", "472c0ebce925f2feaf562ba8935ae9ace8e9b6c53323b591e91cc4f241fa6322"},
    {"loopback-any.pcap", "-G tsg:RL -o OUT.png", "cc7b73352831bb411cac3b9854b05b485010dce437b19e459d88f2f504a6b578"},
    {"slow-reader.pcap", "-S", "b30c8ecb1821ec3fd7bdc4dfe9e31006d944cace99a7a7d22854144aed395ac6"},
    {"slow-reader.pcap", "-E", "b59f381eb0d8b45688c7f60bf1fa461d098a15385ffefb2b84263569ad13698e"},
    {"slow-reader.pcap", "-x -", "b8bb47a33392afdff1f156c413435e0d2b6555d86d62170bab6bae3690b6634f"},
    {"slow-reader.pcap", "-L", "236f872beb5e9f2d6e6483e5d369e0f27a7a45efde034e585a0b33b123a638db"},
    {"slow-reader.pcap", "-o OUT.svg", "7a0763819c865f525fe48863ef9bc79d7399609030e37d7eb48fe8a3ef62eb35"},
    {"slow-reader.pcap", "-G tsg -o OUT.svg", "f38d7db4710a2c7a5448e65c050dfde428d5c5a99fcb9c4d5bc1026420939539"},
    {"slow-reader.pcap", "-G tput -o OUT.svg", "2dbe8ec3125576359c00d93743f104e19de959168d7c68f332d13872094365e6"},
    {"slow-reader.pcap", "-G rtt -o OUT.svg", "c81c0c1443b4546de8574aac98d7468cb4b1cb0f955b97934d09dada5af81905"},
    {"slow-reader.pcap", "-G owd -o OUT.svg", "d2cece7b559bfb32585a282b997f6f0279331dc92e040e3ca67c9676c1d80826"},
    {"slow-reader.pcap", "-G inflight -o OUT.svg", "ddbb8d53850ddfd0a05477c6270c96201cf9fb0b4be33d65387918ca53cb4267"},
    {"slow-reader.pcap", "-G tsg:RL -o OUT.png", "50dc379b10bc1be3b8890e194207869fc8cb8131916d5ee04d9f008a2952d12b"},
    {"timeout.pcap", "-S", "b3b26f59acbe7d05ea0a02abd0d2695c5a81433ace6d7904dae64e17919f7d5e"},
    {"timeout.pcap", "-E", "8efb821f155a634a72478189eee8a03eccdeb2fd59ec857d34b087b63c0532cf"},
    {"timeout.pcap", "-x -", "5e746836443e6a4cc77595487593aa121ed52f85adf370eec8e5603297f6e0a9"},
    {"timeout.pcap", "-L", "d650c4c29a061da7be0834838212d48b3310da37a79527793f8e321f7c3655c7"},
    {"timeout.pcap", "-o OUT.svg", "6176eddd1e287db7516f486a54596cacaf5f592cf03a0fe57a85914067e462d5"},
    {"timeout.pcap", "-G tsg -o OUT.svg", "4cc87a4ceb6687ece8fcdf75ffd6b244cdee17ce0d9b6282c1766a0d2bad1574"},
    {"timeout.pcap", "-G tput -o OUT.svg", "9b1b3ab0de1df90e8a805f5a3d9b8e3729c86a9192aeb6a9129e543da1b69003"},
    {"timeout.pcap", "-G rtt -o OUT.svg", "3ddb1c336eedff14cc43617daa370dbb735df063c12585da7549ac35a7e65cb7"},
    {"timeout.pcap", "-G owd -o OUT.svg", "72d6d5c3505bd4cbad7b288234e8779283d6ece3a19dcd805f3aadd003a1555f"},
    {"timeout.pcap", "-G inflight -o OUT.svg", "452318eb783c63e9db8f0e65ac2971b67c4f5b3a6ab5c7a911f8488e4c165175"},
    {"timeout.pcap", "-G tsg:RL -o OUT.png", "1bd5b89b0e6b936c4430f004e35148d1578df9a383a408894f3ff10d4218b8a3"},
    {"bench-sender.pcap", "-S", "9b6e2d59650f4a5b38aa3ec5c83196a6c25d3662328811e8739b740bd786b098"},
    {"bench-sender.pcap", "-E", "609248d90a5b0a753af5e5e1e43af2df75309fb31b80f5246f34e196e585e6a0"},
    {"bench-sender.pcap", "-x -", "7d2f11cd5fb5e7daed10a795a68773d4c6c2054e3d09f25bd784a529dc3e4f94"},
    {"bench-sender.pcap", "-L", "e932aa9bd6a5c549817a4c492d088bafc66bdee9caec8d0fdb03bbd9dc89e3b5"},
    {"bench-sender.pcap", "-o OUT.svg", "d3b78f1e59ee61723f3c03c3dc081276c4c6e84d3325df10c76cda10b91af571"},
    {"bench-sender.pcap", "-G tsg -o OUT.svg", "d43ac74613953e5a69bd58aa39abe891598fdcfd18608e355eafe41a1da48d0a"},
    {"bench-sender.pcap", "-G tput -o OUT.svg", "c2f2f94b218d892f1f332690802c0b44ac0d9bdfb767d306a95a9545b1c5cdc1"},
    {"bench-sender.pcap", "-G rtt -o OUT.svg", "7bd0272fec6cc1629411dcaa0cdfdfcae2e4f1212d6d065c2ddf8e4fa0a44daa"},
    {"bench-sender.pcap", "-G owd -o OUT.svg", "3b140ec7ff97c34bef7aaa8de1c8396c22520a9f1786ab9eb2853655e5c2418e"},
    {"bench-sender.pcap", "-G inflight -o OUT.svg", "26b2eba8497080b29c4497255e1aa02eaee7ff65a8dd4d1481f842b372051a07"},
    {"bench-sender.pcap", "-G tsg:RL -o OUT.png", "60615e9543bde6d676e5deab1058fb40d619d4694743d92d53de5d8187839b8b"},
    {"sender.pcap receiver.pcap", "-S", "e34c0aa92d4fe784514bc430720c548b01f351e99d255e41b6d13903255ad11e"},
    {"sender.pcap receiver.pcap", "-k -S", "bd25ee55c58a4a557a73b524807f107144449bfb6e69c381d5fa6852bf9670d6"},
    {"sender.pcap receiver.pcap", "-E", "1b876ef252ece8cdfbe2561fc7931dfd3879df8746d49036bcaf295980f01e4c"},
    {"sender.pcap receiver.pcap", "-x -", "02bdfe7ba44cb2b9294db50f45b75ce22985d29c7462d3040040280aaa2df561"},
    {"sender.pcap receiver.pcap", "-o OUT.svg", "7cf7a05cb3c344289cb2c1f4c9063c5fca39ce0086224a744ddfb57209aa6040"},
    {"sender.pcap receiver.pcap", "-G owd -o OUT.svg", "6698acc63e0915e40705bf07cbd46e047312887ba0d3ce607572a21cc8f6e7be"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "-S", "9e42bfbcdbcff05698c1b90be667b2341fba552c68031b51e811455d2555efff"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "-k -S", "e1fa81612ddddb3068e83a185e7e5f90abad0078e1501a33e95efdc0ba053978"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "-E", "82165dc12cae7927238013ffc9997447aecfe3a9d4b68f1873737f6e34bfe56f"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "-x -", "f4a9865988fda0636d780c9b9cbb435e96bec170743306657c4c27ac7b78ff55"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "-o OUT.svg", "1474e0ad6a65a2e54d4037dd6440fd3994f34ff177038bcbc9c3e4454afa2816"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "-G owd -o OUT.svg", "d4edfbd19183ece85e48f3d795fb6777dc2549a253c7cd5f8e3f3d4a5e408d6d"},
    {"drift-sender.pcap drift-receiver.pcap", "-S", "2e0b01498966417aa7a0d853832d2aea0d8764283b3fe22e990fc8d5c23cb163"},
    {"drift-sender.pcap drift-receiver.pcap", "-k -S", "60c275cb15aee68dc0946c1c021dd65fd0b11227e73c117581c27c8a75153f54"},
    {"drift-sender.pcap drift-receiver.pcap", "-E", "69cc057caf1259908ee207492df3d21cb99105c63648e7061515fb80968bb187"},
    {"drift-sender.pcap drift-receiver.pcap", "-x -", "1c37dec69e8d0d80101a92ee79ba541fa5ce7ada24cc21195590c1627c48ac5f"},
    {"drift-sender.pcap drift-receiver.pcap", "-o OUT.svg", "92f5eb8c844892904da05c7f3054f8da3d5344e0f528fbc508e421fe00d327ba"},
    {"drift-sender.pcap drift-receiver.pcap", "-G owd -o OUT.svg", "1c46d883fd96a12f7478a33b38c8bd050c2ecdeeacbaabaa026f3177e69de597"},
    {"lan-client.pcap lan-server.pcap", "-S", "6f0434a9975a6e412e333192341f55eb166c0c276c3248ff8c4f27579fd4195f"},
    {"lan-client.pcap lan-server.pcap", "-k -S", "edf0d441bcdc808f440df91517a0615f24ded242401e1fcefd9881aa87b43f4f"},
    {"lan-client.pcap lan-server.pcap", "-E", "ee6d669e403633a699dbcb905aefb9143481b49ec00cd266e99451112236f90f"},
    {"lan-client.pcap lan-server.pcap", "-x -", "93cd2bc158fa03532ddd40b86fd337693169af745584533b5a4e24d94d4b3b45"},
    {"lan-client.pcap lan-server.pcap", "-o OUT.svg", "731fe3581703e32f21a0d3e54addf8904aad035831279f6aab46fa67fe75e441"},
    {"lan-client.pcap lan-server.pcap", "-G owd -o OUT.svg", "d0c483614c60a59d1f20926d7ac254ac96dd4cddabefc84249714104fdd582dd"},
    {"bench-sender.pcap bench-receiver.pcap", "-S", "43853862df650422212beab4be51936f3e4582db203b9a419c7b35fe0c426111"},
    {"bench-sender.pcap bench-receiver.pcap", "-k -S", "01bbab71c7d8aeea8ee9d2774392e36bdd774fda19a6d7a4b70fe3745eeb9410"},
    {"bench-sender.pcap bench-receiver.pcap", "-E", "609248d90a5b0a753af5e5e1e43af2df75309fb31b80f5246f34e196e585e6a0"},
    {"bench-sender.pcap bench-receiver.pcap", "-x -", "fe3f48754ce559fd5e18b5d4860bbdda31324150f630ae4f3b5c29257c8344e7"},
    {"bench-sender.pcap bench-receiver.pcap", "-o OUT.svg", "4d9a1aea531265c0c97b8e62c5fa387cc91d30563a677c29d164b4f94fc1ec1a"},
    {"bench-sender.pcap bench-receiver.pcap", "-G owd -o OUT.svg", "fe11791ba63e9c1571c096b183929a78007276aea5cc23ccb6beb282c086d88b"},
};

/* Rows of the detail texts: "text" mode, digest of every line's text. */
const digest_row kTextRows[] = {
    {"sender.pcap", "text", "158f03b48e48acad57c964780f6b63074577a82b10acd0a47667115a4350c16b"},
    {"receiver.pcap", "text", "2acfc2faeec84d4320421e02b6eb40413c4acbb229571e05b9a62ff7139741d9"},
    {"sender.pcapng", "text", "158f03b48e48acad57c964780f6b63074577a82b10acd0a47667115a4350c16b"},
    {"bulk-loss-sender.pcap", "text", "40a63ef93979451b0e018f02b6125ac48de63026af1ef3e896516d7e462e45bc"},
    {"bulk-loss-receiver.pcap", "text", "b55e13ecc0959d70a55d0c4d220e852d244cc152e9edb29fdaf2b535e15daf3f"},
    {"drift-sender.pcap", "text", "4c354018a445ed35c45546a543d703419e43390845a23675218602b34766b6c7"},
    {"drift-receiver.pcap", "text", "86477b14e4e1fe78e40740fa903be758e4708aa3a8565e5d530faae0c7b27a5e"},
    {"keepalive.pcap", "text", "64dcf1520a408ca4645c1adc4e397426014be137a3c3f01fd3498da2d63af321"},
    {"lan-client.pcap", "text", "07dff86921b31ba6e8f83a80df1ffb92c10d26e1791abf99fa39276fdc7a0cc1"},
    {"lan-server.pcap", "text", "ebcd8a626e5af1caa8d4d5182de2fadaed5f8c995165bc7e12b82781e6374eca"},
    {"loopback-any-sll.pcap", "text", "47b0e96142210fff348fadabd0e17b2506eea519925a09886e0e585ffff597ce"},
    {"loopback-any.pcap", "text", "e245c1bab832acee93d3a3f0e177de6b9992f7639f51bb285033881f42bfd434"},
    {"slow-reader.pcap", "text", "75bde7f6a7a8c80a1201a5454eecc9cd02e226ccc1bdbcb1705df83718420606"},
    {"timeout.pcap", "text", "00d4bf7e9f55059ff1bfdb51212c5282a9f02189d7636f3e2774efbdf8122850"},
    {"bench-sender.pcap", "text", "2d69e44c86210026a7e5c538b664f2586c2c344af6218bac748528e0bcd2dab5"},
    {"sender.pcap receiver.pcap", "text", "158f03b48e48acad57c964780f6b63074577a82b10acd0a47667115a4350c16b"},
    {"bulk-loss-sender.pcap bulk-loss-receiver.pcap", "text", "b55e13ecc0959d70a55d0c4d220e852d244cc152e9edb29fdaf2b535e15daf3f"},
    {"drift-sender.pcap drift-receiver.pcap", "text", "4c354018a445ed35c45546a543d703419e43390845a23675218602b34766b6c7"},
    {"lan-client.pcap lan-server.pcap", "text", "07dff86921b31ba6e8f83a80df1ffb92c10d26e1791abf99fa39276fdc7a0cc1"},
    {"bench-sender.pcap bench-receiver.pcap", "text", "2d69e44c86210026a7e5c538b664f2586c2c344af6218bac748528e0bcd2dab5"},
};

bool printing()
{
    const char *p = std::getenv("WIREPAINT_PRINT_DIGESTS");
    return p != nullptr && p[0] == '1';
}

/* The SHA-256 (hex) of what `command` writes on its standard output. */
std::string digest_of(const std::string &command)
{
    std::string full = "( " + command + " ) | sha256sum";
    FILE *p = popen(full.c_str(), "r");
    if (p == nullptr)
        return "popen failed";
    char buf[128] = {0};
    size_t n = std::fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    std::string s(buf, n);
    return s.substr(0, s.find(' '));
}

/* Where a row's captures lie: examples/, or the build directory for the
 * generated pair (made once per test run). */
std::string directory_of(const std::string &captures)
{
    if (captures.compare(0, 6, "bench-") != 0)
        return WIREPAINT_SOURCE_DIR "/examples";
    static bool made = false;
    if (!made) {
        std::string gen = "cd " WIREPAINT_BINARY_DIR " && test -s bench-sender.pcap && test -s "
                          "bench-receiver.pcap || " WIREPAINT_BINARY_DIR
                          "/gen_capture -n 100000 bench-sender.pcap bench-receiver.pcap "
                          "2>/dev/null";
        made = std::system(gen.c_str()) == 0;
    }
    return WIREPAINT_BINARY_DIR;
}

/* The mode with OUT replaced by the picture file `out`. */
std::string with_output(std::string mode, const std::string &out)
{
    size_t at = mode.find("OUT");
    if (at != std::string::npos)
        mode.replace(at, 3, out);
    return mode;
}

void print_row(const digest_row &r, const std::string &got)
{
    std::printf("    {\"%s\", \"%s\", \"%s\"},\n", r.captures, r.mode, got.c_str());
}

/*
 * One run of wirepaint per row, in the captures' directory with relative
 * names (the connection list shows them), without a display: its standard
 * output, exit status and picture file together make the digest.
 */
TEST(SameOutputs, EveryModeOfEveryCaptureAsTheReference)
{
    std::string out = WIREPAINT_BINARY_DIR "/same-outputs-picture";
    for (const digest_row &r : kRows) {
        std::string mode = r.mode;
        bool picture = mode.find("OUT") != std::string::npos;
        std::string file = out + (mode.find("OUT.png") != std::string::npos ? ".png" : ".svg");
        mode = with_output(mode, out);
        std::string cmd = "cd " + directory_of(r.captures) + " && rm -f " + file +
                          " && { env -u DISPLAY " WIREPAINT_BINARY " " + mode + " " +
                          r.captures + " 2>/dev/null; echo \"status $?\"; }";
        if (picture)
            cmd += " && cat " + file;
        std::string got = digest_of(cmd);
        if (printing())
            print_row(r, got);
        else
            EXPECT_EQ(got, r.sha256) << "row {" << r.captures << ", " << r.mode << "} differs";
    }
}

/* Loads the captures of a row (names split at blanks) with the reset flag. */
bool load_row(const std::string &captures)
{
    std::string dir = directory_of(captures);
    std::string a = dir + "/" + captures.substr(0, captures.find(' '));
    std::string b;
    if (captures.find(' ') != std::string::npos)
        b = dir + "/" + captures.substr(captures.find(' ') + 1);
    char *argv[2] = {&a[0], b.empty() ? nullptr : &b[0]};
    load_traces(b.empty() ? 1 : 2, argv, 1);
    return g_trace.loaded == 1;
}

/*
 * The detail text of every line (summary, then the header dump) in line
 * order, after a load of the row's captures: the texts read every
 * record's packet bytes.
 */
TEST(SameOutputs, DetailTextOfEverySegmentAsTheReference)
{
    for (const digest_row &r : kTextRows) {
        trace_state_clear();
        ASSERT_TRUE(load_row(r.captures)) << r.captures;
        std::string path = WIREPAINT_BINARY_DIR "/same-outputs-texts";
        FILE *f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        for (int32_t i = 0; i < g_trace.main.count; i++)
            std::fprintf(f, "%d %s\n", i, segment_detail_text(i, 0));
        std::fclose(f);
        std::string got = digest_of("cat " + path);
        if (printing())
            print_row(r, got);
        else
            EXPECT_EQ(got, r.sha256) << "row {" << r.captures << ", text} differs";
    }
    trace_state_clear();
}

}  // namespace
