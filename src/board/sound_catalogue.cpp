#include "sound_catalogue.h"

namespace qinghe {
namespace {

constexpr int kFirstColumnLeft = 8;
constexpr int kColumnPitch = 80;
constexpr int kFirstRowTop = 35;
constexpr int kRowPitch = 35;

constexpr BoardButton effect(std::string_view name, std::string_view caption, int page, int row, int column,
                             std::string_view file)
{
    return {name, caption, page, row, column, BoardAction::PlayEffect, file, 0};
}

constexpr BoardButton stop(std::string_view name, int page)
{
    return {name, "停止播放", page, 3, 6, BoardAction::Stop, {}, 0};
}

constexpr BoardButton custom(std::string_view name, int row, int column)
{
    return {name, kEmptySlotCaption, kCustomSlotPage, row, column, BoardAction::CustomSlot, {}, (row - 1) * 6 + column};
}

constexpr std::array<BoardButton, kBoardButtonCount> kCatalogue{{
    // Page 0 "主持人专用"
    effect("按钮12", "开场音乐", 0, 1, 1, "data\\xwpt.mp3"),
    effect("按钮8", "哄堂大笑", 0, 1, 2, "data\\qzxs.mp3"),
    effect("按钮7", "多人笑声", 0, 1, 3, "data\\drxs.mp3"),
    effect("按钮9", "欢呼掌声", 0, 1, 4, "data\\hhzs.mp3"),
    effect("按钮10", "激烈掌声", 0, 1, 5, "data\\jjzs.mp3"),
    effect("按钮11", "放屁声音", 0, 1, 6, "data\\fps.mp3"),
    effect("按钮6", "小孩笑声", 0, 2, 1, "data\\xhxs.mp3"),
    effect("按钮3", "婴儿笑声", 0, 2, 2, "data\\yexs.mp3"),
    effect("按钮4", "婴儿哭声", 0, 2, 3, "data\\yeks.mp3"),
    effect("按钮16", "邪恶笑声", 0, 2, 4, "data\\xexs.mp3"),
    effect("按钮13", "吓人贱笑", 0, 2, 5, "data\\jxxr.mp3"),
    effect("按钮18", "乌鸦飞过", 0, 2, 6, "data\\wyfg.mp3"),
    effect("按钮5", "非诚勿扰男", 0, 3, 1, "data\\fcwrn.mp3"),
    effect("按钮2", "非诚勿扰灯", 0, 3, 2, "data\\fcwrld.mp3"),
    effect("按钮15", "非诚勿扰女", 0, 3, 3, "data\\fcwrnv.mp3"),
    effect("按钮14", "配对成功", 0, 3, 4, "data\\pdcg.mp3"),
    effect("按钮1", "配对失败", 0, 3, 5, "data\\pdsb.mp3"),
    stop("按钮17", 0),
    // Page 1 "Mc喊麦专用"
    effect("按钮34", "多人笑声", 1, 1, 1, "data\\drxs.mp3"),
    effect("按钮33", "群众笑声", 1, 1, 2, "data\\qzxs.mp3"),
    effect("按钮30", "欢呼掌声", 1, 1, 3, "data\\hhzs.mp3"),
    effect("按钮27", "激烈掌声", 1, 1, 4, "data\\jjzs.mp3"),
    effect("按钮24", "尖叫声", 1, 1, 5, "data\\jjs.mp3"),
    effect("按钮21", "吓人贱笑", 1, 1, 6, "data\\jxxr.mp3"),
    effect("按钮35", "Mc教学鼓", 1, 2, 1, "data\\jxg.mp3"),
    effect("按钮32", "给枪上膛", 1, 2, 2, "data\\st.mp3"),
    effect("按钮29", "机枪扫射", 1, 2, 3, "data\\jqss.mp3"),
    effect("按钮26", "急速敲门", 1, 2, 4, "data\\qms.mp3"),
    effect("按钮23", "阻击枪声", 1, 2, 5, "data\\jjqs.mp3"),
    effect("按钮20", "打人拳声", 1, 2, 6, "data\\drqs.mp3"),
    effect("按钮36", "手枪声音", 1, 3, 1, "data\\sqsy.mp3"),
    effect("按钮31", "英文正数", 1, 3, 2, "data\\yyzs.mp3"),
    effect("按钮28", "砸玻璃声", 1, 3, 3, "data\\zbl.mp3"),
    effect("按钮25", "麦吻(男)", 1, 3, 4, "data\\mwn.mp3"),
    effect("按钮22", "麦吻(女)", 1, 3, 5, "data\\mwns.mp3"),
    stop("按钮19", 1),
    // Page 2 "搞笑类音效"
    effect("按钮37", "搞笑娃娃音", 2, 1, 1, "data\\yyy.mp3"),
    effect("按钮53", "八戒背媳妇", 2, 1, 2, "data\\bj.mp3"),
    effect("按钮50", "挑优秀老公", 2, 1, 3, "data\\tgg.mp3"),
    effect("按钮47", "神经病热线", 2, 1, 4, "data\\jsb.mp3"),
    effect("按钮44", "110热线", 2, 1, 5, "data\\rx.mp3"),
    effect("按钮43", "哈利路亚", 2, 1, 6, "data\\hlly.mp3"),
    effect("按钮55", "救命", 2, 2, 1, "data\\jm.mp3"),
    effect("按钮52", "搞笑Ⅰ", 2, 2, 2, "data\\1.mp3"),
    effect("按钮49", "搞笑Ⅱ", 2, 2, 3, "data\\2.mp3"),
    effect("按钮46", "搞笑Ⅲ", 2, 2, 4, "data\\3.mp3"),
    effect("按钮41", "搞笑Ⅳ", 2, 2, 5, "data\\4.mp3"),
    effect("按钮42", "搞笑Ⅴ", 2, 2, 6, "data\\5.mp3"),
    effect("按钮54", "搞笑Ⅵ", 2, 3, 1, "data\\6.mp3"),
    effect("按钮51", "搞笑Ⅶ", 2, 3, 2, "data\\7.mp3"),
    effect("按钮48", "搞笑Ⅷ", 2, 3, 3, "data\\8.mp3"),
    effect("按钮45", "周星驰笑声", 2, 3, 4, "data\\zxcxs.mp3"),
    effect("按钮40", "做人要厚道", 2, 3, 5, "data\\zryhd.mp3"),
    stop("按钮39", 2),
    // Page 3 "交通类音效"
    effect("按钮72", "拖拉机声音", 3, 1, 1, "data\\tljsy.mp3"),
    effect("按钮71", "警车声音", 3, 1, 2, "data\\jcsy.mp3"),
    effect("按钮70", "救护车声音", 3, 1, 3, "data\\jhcsy.mp3"),
    effect("按钮69", "摩托车声音", 3, 1, 4, "data\\mtcsy.mp3"),
    effect("按钮68", "直升飞机", 3, 1, 5, "data\\zsfj.mp3"),
    effect("按钮67", "刹车声音", 3, 1, 6, "data\\scsy.mp3"),
    effect("按钮66", "发动汽车", 3, 2, 1, "data\\fdqc.mp3"),
    effect("按钮65", "汽车漂移", 3, 2, 2, "data\\qcpy.mp3"),
    effect("按钮64", "货车鸣笛", 3, 2, 3, "data\\hcmd.mp3"),
    effect("按钮63", "汽车鸣笛", 3, 2, 4, "data\\qcmd.mp3"),
    effect("按钮62", "火车鸣笛", 3, 2, 5, "data\\huochemd.mp3"),
    effect("按钮61", "电车报站", 3, 2, 6, "data\\dcbz.mp3"),
    effect("按钮60", "公交车报站", 3, 3, 1, "data\\gjcbz.mp3"),
    effect("按钮59", "火灾报警", 3, 3, 2, "data\\hzbjing.mp3"),
    effect("按钮58", "防空报警", 3, 3, 3, "data\\fkjb.mp3"),
    effect("按钮57", "打饱嗝声", 3, 3, 4, "data\\dbgs.mp3"),
    effect("按钮56", "打呼噜声", 3, 3, 5, "data\\dhls.mp3"),
    stop("按钮38", 3),
    // Page 4 "生活类音效"
    effect("按钮90", "拨打电话", 4, 1, 1, "data\\bodh.mp3"),
    effect("按钮89", "打雷声音", 4, 1, 2, "data\\dalei.mp3"),
    effect("按钮88", "打人拳声", 4, 1, 3, "data\\drqs.mp3"),
    effect("按钮87", "大雨漂泊", 4, 1, 4, "data\\dayu.mp3"),
    effect("按钮86", "倒开水声", 4, 1, 5, "data\\daoks.mp3"),
    effect("按钮85", "咀嚼东西", 4, 1, 6, "data\\jujue.mp3"),
    effect("按钮84", "电话嘟嘟", 4, 2, 1, "data\\dudu.mp3"),
    effect("按钮83", "电话占线", 4, 2, 2, "data\\zhanxian.mp3"),
    effect("按钮82", "敲键盘声", 4, 2, 3, "data\\jianpan.mp3"),
    effect("按钮81", "马桶冲水", 4, 2, 4, "data\\matong.mp3"),
    effect("按钮80", "恐怖鬼火", 4, 2, 5, "data\\kongbu.mp3"),
    effect("按钮79", "开啤酒盖", 4, 2, 6, "data\\pijiu.mp3"),
    effect("按钮78", "狗狗叫声", 4, 3, 1, "data\\goujiao.mp3"),
    effect("按钮77", "倒硬币声", 4, 3, 2, "data\\yingbi.mp3"),
    effect("按钮76", "剑刺声音", 4, 3, 3, "data\\jianci.mp3"),
    effect("按钮75", "鬼叫声男", 4, 3, 4, "data\\gjsn.mp3"),
    effect("按钮74", "鬼叫声女", 4, 3, 5, "data\\gjsnv.mp3"),
    stop("按钮73", 4),
    // Page 5 "音乐类音效"
    effect("按钮108", "Ready Go", 5, 1, 1, "data\\readygo.mp3"),
    effect("按钮107", "倒数计时", 5, 1, 2, "data\\dsjs.mp3"),
    effect("按钮106", "斗地主胜", 5, 1, 3, "data\\ddzsl.mp3"),
    effect("按钮105", "赌神出场", 5, 1, 4, "data\\dscc.mp3"),
    effect("按钮104", "英雄联盟", 5, 1, 5, "data\\lol.mp3"),
    effect("按钮103", "伤不起高潮", 5, 1, 6, "data\\sbqgc.mp3"),
    effect("按钮102", "紧张气氛", 5, 2, 1, "data\\jzqf.mp3"),
    effect("按钮100", "玛丽通关", 5, 2, 2, "data\\mlgg.mp3"),
    effect("按钮98", "魔幻音乐", 5, 2, 3, "data\\mhyy.mp3"),
    effect("按钮96", "气势片头", 5, 2, 4, "data\\qspt.mp3"),
    effect("按钮94", "新闻片头", 5, 2, 5, "data\\xwpt.mp3"),
    effect("按钮92", "新闻联播", 5, 2, 6, "data\\xwlb.mp3"),
    effect("按钮101", "幽默风趣①", 5, 3, 1, "data\\ymfq1.mp3"),
    effect("按钮99", "幽默风趣②", 5, 3, 2, "data\\ymfq2.mp3"),
    effect("按钮97", "幽默风趣③", 5, 3, 3, "data\\ymfq3.mp3"),
    effect("按钮95", "女人呻吟", 5, 3, 4, "data\\nrsy.mp3"),
    effect("按钮93", "鞭打男人", 5, 3, 5, "data\\bdnr.mp3"),
    stop("按钮91", 5),
    // Page 6 "个性音效": slot numbers run in reading order.
    custom("按钮109", 1, 1), custom("按钮112", 1, 2), custom("按钮115", 1, 3),
    custom("按钮118", 1, 4), custom("按钮121", 1, 5), custom("按钮124", 1, 6),
    custom("按钮110", 2, 1), custom("按钮113", 2, 2), custom("按钮116", 2, 3),
    custom("按钮119", 2, 4), custom("按钮122", 2, 5), custom("按钮125", 2, 6),
    custom("按钮111", 3, 1), custom("按钮114", 3, 2), custom("按钮117", 3, 3),
    custom("按钮120", 3, 4), custom("按钮123", 3, 5), custom("按钮126", 3, 6),
}};

constexpr std::array<std::string_view, kBoardPageCount> kPageCaptions{
    "主持人专用", "Mc喊麦专用", "搞笑类音效", "交通类音效", "生活类音效", "音乐类音效", "个性音效",
};

}  // namespace

const std::array<std::string_view, kBoardPageCount>& boardPageCaptions()
{
    return kPageCaptions;
}

const std::array<BoardButton, kBoardButtonCount>& boardCatalogue()
{
    return kCatalogue;
}

int boardButtonLeft(int column)
{
    return kFirstColumnLeft + kColumnPitch * (column - 1);
}

int boardButtonTop(int row)
{
    return kFirstRowTop + kRowPitch * (row - 1);
}

}  // namespace qinghe
