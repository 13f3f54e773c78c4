#include "SwitchPolicy.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace {

// ---------------------------------------------------------------------------------------
// The lists. They follow ffmpeg 5.1 (`ffmpeg -h full`, `ffmpeg -filters`, `-formats`,
// `-protocols`, `-devices`); names of later versions that do the same are listed too.
// ---------------------------------------------------------------------------------------

// ffmpeg's own options that take no value: every other option takes exactly one, which
// is how a stray argument (one ffmpeg would take for another output) is told apart.
const std::set<std::string> kBooleans = {
    "y", "n", "ignore_unknown", "copy_unknown", "recast_media", "accurate_seek", "benchmark", "benchmark_all",
    "stdin", "dump", "hex", "re", "copyts", "start_at_zero", "shortest", "bitexact", "xerror", "copyinkf",
    "auto_conversion_filters", "stats", "debug_ts", "find_stream_info", "vn", "an", "sn", "dn", "psnr", "qphist",
    "force_fps", "fix_sub_duration", "hide_banner"};
// Booleans that nevertheless take a value; their "-no" form takes none.
const std::set<std::string> kBooleansWithValue = {"autorotate", "autoscale"};
// Options without a value that are no booleans.
const std::set<std::string> kActionsWithoutValue = {"vstats", "report"};

// Options that end ffmpeg at once (help and listings): nothing would be encoded.
const std::set<std::string> kExiting = {
    "L",       "h",       "?",       "help",   "-help",    "version",  "buildconf", "formats",
    "muxers",  "demuxers", "devices", "codecs", "decoders", "encoders", "bsfs",      "protocols",
    "filters", "pix_fmts", "layouts", "sample_fmts", "dispositions", "colors", "hwaccels", "license"};

// Options that read or write files other than the source and the output, load code,
// open devices or add inputs.
const std::map<std::string, const char*> kRefusedOptions = {
    {"i", "it adds an input besides the source"},
    {"attach", "it reads another file into the output"},
    {"dump_attachment", "it writes files"},
    {"filter_script", "it reads a filter graph from a file"},
    {"filter_complex_script", "it reads a filter graph from a file"},
    {"vstats", "it writes a statistics file"},
    {"vstats_file", "it writes a statistics file"},
    {"report", "it writes a report file"},
    {"progress", "it writes to a file or an address of its own"},
    {"sdp_file", "it writes a file"},
    {"stats_enc_pre", "it writes a statistics file"},
    {"stats_enc_post", "it writes a statistics file"},
    {"stats_mux_pre", "it writes a statistics file"},
    {"enc_stats_pre", "it writes a statistics file"},
    {"enc_stats_post", "it writes a statistics file"},
    {"mux_stats", "it writes a statistics file"},
    {"pre", "it reads a preset file"},
    {"apre", "it reads a preset file"},
    {"vpre", "it reads a preset file"},
    {"spre", "it reads a preset file"},
    {"fpre", "it reads a preset file"},
    {"init_hw_device", "it opens a hardware device and loads its driver"},
    {"filter_hw_device", "it opens a hardware device and loads its driver"},
    {"vaapi_device", "it opens a hardware device and loads its driver"},
    {"qsv_device", "it opens a hardware device and loads its driver"},
    {"hwaccel_device", "it opens a hardware device and loads its driver"},
    {"sources", "it opens devices"},
    {"sinks", "it opens devices"},
    {"omx_libname", "it loads a library"},
    {"omx_libprefix", "it loads a library"},
    {"load_plugin", "it loads plugins"},
    {"load_plugins", "it loads plugins"},
    {"ifo_palette", "it reads another file"},
    {"header", "it writes another file"},
};
// Option families of the formats that write many files.
const std::vector<std::string> kRefusedOptionPrefixes = {"hls_", "segment_", "dash_"};
// Whatever other option names a file by its name is refused as well.
const std::vector<std::string> kFileNameSuffixes = {"file", "filename", "path", "dir"};

// Options whose value is a filter graph.
const std::set<std::string> kGraphOptions = {"vf", "af", "filter", "filter_complex", "lavfi"};
// Options whose value selects inputs by number; only the source, input 0, exists.
const std::set<std::string> kInputSelectors = {"map", "map_metadata", "map_chapters", "map_channel"};
// Options whose value is an encoder library's own "key=value:key=value" list.
const std::set<std::string> kLibraryParameterOptions = {"x264-params",   "x264opts",      "x265-params",
                                                        "svtav1-params", "aom-params",    "rav1e-params",
                                                        "kvazaar-params", "xavs2-params", "vvenc-params"};
// Keys of those lists that read or write files, or run programs.
const std::set<std::string> kLibraryFileKeys = {
    "stats",      "qpfile",          "tcfile-in",      "tcfile-out",  "cqmfile",    "dump-yuv",
    "opencl-clbin", "csv",           "analysis-save",  "analysis-load", "analysis-reuse-file", "zonefile",
    "zones-file", "dolby-vision-rpu", "scaling-list", "lambda-file", "recon",      "recon-y4m-exec",
    "dhdr10-info", "fgs-table",      "film-grain-table", "vmaf-model-path", "partition-info-path",
    "subgop-config-path", "passlogfile", "input",    "output",      "log-file"};

// Output formats that open files, devices or network connections of their own instead of
// writing the one output: many-file formats, wrappers of other formats, network senders,
// and devices.
const std::set<std::string> kRefusedFormats = {
    "dash",    "hls",     "hds",    "segment",   "ssegment", "stream_segment", "smoothstreaming", "webm_chunk",
    "tee",     "fifo",    "fifo_test", "rtsp",   "sap",      "rtp",            "rtp_mpegts",      "whip",
    "alsa",    "caca",    "fbdev",  "opengl",    "oss",      "pulse",          "sdl",             "sdl2",
    "video4linux2", "v4l2", "xv",   "decklink",  "sndio",    "audiotoolbox",   "jack",            "lavfi"};
// Output name endings that make ffmpeg pick such a format by itself.
const std::map<std::string, std::string> kRefusedExtensions = {{"m3u8", "hls"}, {"mpd", "dash"}, {"chk", "webm_chunk"}};
// The filters a graph may use, each with the options it may be given by name. These only
// transform pictures and sound; none reads or writes a file, opens a device or an address,
// or loads code. A filter marked "by name" has options left out here (files, mostly), and
// values given by position could reach them, so it takes its options by name only.
struct AcceptedFilter {
    bool byNameOnly;
    const char* keys; // separated by blanks
};
const std::map<std::string, AcceptedFilter> kAcceptedFilters = {
    {"acompressor", {false, "level_in mode threshold ratio attack release makeup knee link detection level_sc mix"}},
    {"acontrast", {false, "contrast"}},
    {"acrusher", {false, "level_in level_out bits mix mode dc aa samples lfo lforange lforate"}},
    {"adeclick", {false, "window w overlap o arorder a threshold t burst b method m"}},
    {"adeclip", {false, "window w overlap o arorder a threshold t hsize n method m"}},
    {"adelay", {false, "delays all"}},
    {"aecho", {false, "in_gain out_gain delays decays"}},
    {"aemphasis", {false, "level_in level_out mode type"}},
    {"afade", {false, "type t start_sample ss nb_samples ns start_time st duration d curve c"}},
    {"afftdn",
     {false,
      "noise_reduction nr noise_floor nf noise_type nt band_noise bn residual_floor rf "
      "track_noise tn track_residual tr output_mode om adaptivity ad floor_offset fo noise_link "
      "nl band_multiplier bm sample_noise sn gain_smooth gs"}},
    {"aformat", {false, "sample_fmts f sample_rates r channel_layouts cl"}},
    {"afreqshift", {false, "shift level order"}},
    {"agate", {false, "level_in mode range threshold ratio attack release makeup knee detection link level_sc"}},
    {"alimiter", {false, "level_in level_out limit attack release asc asc_level level latency"}},
    {"alphaextract", {false, ""}},
    {"alphamerge", {false, "eof_action shortest repeatlast"}},
    {"amerge", {false, "inputs"}},
    {"amix", {false, "inputs duration dropout_transition weights normalize"}},
    {"anlmdn", {false, "strength s patch p research r output o smooth m"}},
    {"anull", {false, ""}},
    {"apad", {false, "packet_size pad_len whole_len pad_dur whole_dur"}},
    {"aphaser", {false, "in_gain out_gain delay decay speed type"}},
    {"apulsator", {false, "level_in level_out mode amount offset_l offset_r width timing bpm ms hz"}},
    {"aresample",
     {false,
      "sample_rate ich in_channel_count och out_channel_count uch used_channel_count isr "
      "in_sample_rate osr out_sample_rate isf in_sample_fmt osf out_sample_fmt tsf "
      "internal_sample_fmt icl in_channel_layout ocl out_channel_layout ichl in_chlayout ochl "
      "out_chlayout clev center_mix_level slev surround_mix_level lfe_mix_level rmvol "
      "rematrix_volume rematrix_maxval flags swr_flags dither_scale dither_method filter_size "
      "phase_shift linear_interp exact_rational cutoff resample_cutoff resampler precision cheby "
      "min_comp min_hard_comp comp_duration max_soft_comp async first_pts matrix_encoding "
      "filter_type kaiser_beta output_sample_bits"}},
    {"areverse", {false, ""}},
    {"aselect", {false, "expr e outputs n"}},
    {"asetpts", {false, "expr"}},
    {"asetrate", {false, "sample_rate r"}},
    {"ashowinfo", {false, ""}},
    {"asoftclip", {false, "type threshold output param oversample"}},
    {"asplit", {false, "outputs"}},
    {"atadenoise", {false, "0a 0b 1a 1b 2a 2b s p a 0s 1s 2s"}},
    {"atempo", {false, "tempo"}},
    {"atrim", {false, "start starti end endi start_pts end_pts duration durationi start_sample end_sample"}},
    {"avgblur", {false, "sizeX planes sizeY"}},
    {"bandpass",
     {false,
      "frequency f width_type t width w csg mix m channels c normalize n transform a precision r "
      "blocksize b"}},
    {"bandreject",
     {false,
      "frequency f width_type t width w mix m channels c normalize n transform a precision r "
      "blocksize b"}},
    {"bass",
     {false,
      "frequency f width_type t width w gain g poles p mix m channels c normalize n transform a "
      "precision r blocksize b"}},
    {"blend",
     {false,
      "c0_mode c1_mode c2_mode c3_mode all_mode c0_expr c1_expr c2_expr c3_expr all_expr "
      "c0_opacity c1_opacity c2_opacity c3_opacity all_opacity eof_action shortest repeatlast"}},
    {"bm3d", {false, "sigma block bstep group range mstep thmse hdthr estim ref planes"}},
    {"boxblur",
     {false,
      "luma_radius lr luma_power lp chroma_radius cr chroma_power cp alpha_radius ar alpha_power "
      "ap"}},
    {"bwdif", {false, "mode parity deint"}},
    {"cas", {false, "strength planes"}},
    {"channelmap", {false, "map channel_layout"}},
    {"channelsplit", {false, "channel_layout channels"}},
    {"chorus", {false, "in_gain out_gain delays decays speeds depths"}},
    {"chromakey", {false, "color similarity blend yuv"}},
    {"chromashift", {false, "cbh cbv crh crv edge"}},
    {"colorbalance", {false, "rs gs bs rm gm bm rh gh bh pl"}},
    {"colorchannelmixer", {false, "rr rg rb ra gr gg gb ga br bg bb ba ar ag ab aa pc pa"}},
    {"colorhold", {false, "color similarity blend"}},
    {"colorkey", {false, "color similarity blend"}},
    {"colorlevels",
     {false,
      "rimin gimin bimin aimin rimax gimax bimax aimax romin gomin bomin aomin romax gomax bomax "
      "aomax preserve"}},
    {"colormatrix", {false, "src dst"}},
    {"colorspace",
     {false,
      "all space range primaries trc format fast dither wpadapt iall ispace irange iprimaries "
      "itrc"}},
    {"colortemperature", {false, "temperature mix pl"}},
    {"compand", {false, "attacks decays points gain volume delay"}},
    {"concat", {false, "n v a unsafe"}},
    {"copy", {false, ""}},
    {"crop", {false, "out_w w out_h h x y keep_aspect exact"}},
    {"crystalizer", {false, "i c"}},
    {"curves", {true, "preset master m red r green g blue b all"}},
    {"dcshift", {false, "shift limitergain"}},
    {"dctdnoiz", {false, "sigma s overlap expr e n"}},
    {"deband", {false, "1thr 2thr 3thr 4thr range r direction d blur b coupling c"}},
    {"deblock", {false, "filter block alpha beta gamma delta planes"}},
    {"decimate", {false, "cycle dupthresh scthresh blockx blocky ppsrc chroma"}},
    {"dedot", {false, "m lt tl tc ct"}},
    {"deflicker", {false, "size s mode m bypass"}},
    {"dejudder", {false, "cycle"}},
    {"deshake", {true, "x y w h rx ry edge blocksize contrast search"}},
    {"detelecine", {false, "first_field pattern start_frame"}},
    {"drawbox", {false, "x y width w height h color c thickness t replace box_source"}},
    {"drawgrid", {false, "x y width w height h color c thickness t replace"}},
    {"drawtext",
     {true,
      "text fontcolor fontcolor_expr boxcolor bordercolor shadowcolor box boxborderw line_spacing "
      "fontsize x y shadowx shadowy borderw tabsize basetime font expansion timecode tc24hmax "
      "timecode_rate r rate alpha fix_bounds start_number text_shaping"}},
    {"dynaudnorm",
     {false,
      "framelen f gausssize g peak p maxgain m targetrms r coupling n correctdc c altboundary b "
      "compress s threshold t channels h overlap o"}},
    {"earwax", {false, ""}},
    {"ebur128", {false, "video size meter framelog metadata peak dualmono panlaw target gauge scale"}},
    {"edgedetect", {false, "high low mode planes"}},
    {"eq", {false, "contrast brightness saturation gamma gamma_r gamma_g gamma_b gamma_weight eval"}},
    {"equalizer",
     {false,
      "frequency f width_type t width w gain g mix m channels c normalize n transform a precision "
      "r blocksize b"}},
    {"estdif", {false, "mode parity deint rslope redge ecost mcost dcost interp"}},
    {"extractplanes", {false, "planes"}},
    {"extrastereo", {false, "m c"}},
    {"fade", {false, "type t start_frame s nb_frames n alpha start_time st duration d color c"}},
    {"fftdnoiz", {false, "sigma amount block overlap method prev next planes window"}},
    {"field", {false, "type"}},
    {"fieldmatch",
     {false,
      "order mode ppsrc field mchroma y0 y1 scthresh combmatch combdbg cthresh chroma blockx "
      "blocky combpel"}},
    {"fieldorder", {false, "order"}},
    {"fillborders", {false, "left right top bottom mode color"}},
    {"firequalizer", {true, "gain gain_entry delay accuracy wfunc fixed multi zero_phase scale fft2 min_phase"}},
    {"flanger", {false, "delay depth regen width speed shape phase interp"}},
    {"format", {false, "pix_fmts"}},
    {"fps", {false, "fps start_time round eof_action"}},
    {"framerate", {false, "fps interp_start interp_end scene flags"}},
    {"framestep", {false, "step"}},
    {"gblur", {false, "sigma steps planes sigmaV"}},
    {"geq",
     {false,
      "lum_expr lum cb_expr cb cr_expr cr alpha_expr a red_expr r green_expr g blue_expr b "
      "interpolation i"}},
    {"gradfun", {false, "strength radius"}},
    {"grayworld", {false, ""}},
    {"haas",
     {false,
      "level_in level_out side_gain middle_source middle_phase left_delay left_balance left_gain "
      "left_phase right_delay right_balance right_gain right_phase"}},
    {"hflip", {false, ""}},
    {"highpass",
     {false,
      "frequency f width_type t width w poles p mix m channels c normalize n transform a "
      "precision r blocksize b"}},
    {"histeq", {false, "strength intensity antibanding"}},
    {"hqdn3d", {false, "luma_spatial chroma_spatial luma_tmp chroma_tmp"}},
    {"hqx", {false, "n"}},
    {"hstack", {false, "inputs shortest"}},
    {"hue", {false, "h s H b"}},
    {"il", {false, "luma_mode l chroma_mode c alpha_mode a luma_swap ls chroma_swap cs alpha_swap as"}},
    {"interlace", {false, "scan lowpass"}},
    {"join", {false, "inputs channel_layout map"}},
    {"kerndeint", {false, "thresh map order sharp twoway"}},
    {"lenscorrection", {false, "cx cy k1 k2 i fc"}},
    {"loudnorm",
     {false,
      "I i LRA lra TP tp measured_I measured_i measured_LRA measured_lra measured_TP measured_tp "
      "measured_thresh offset linear dual_mono print_format"}},
    {"lowpass",
     {false,
      "frequency f width_type t width w poles p mix m channels c normalize n transform a "
      "precision r blocksize b"}},
    {"lumakey", {false, "threshold tolerance softness"}},
    {"lutrgb", {false, "c0 c1 c2 c3 y u v r g b a"}},
    {"lutyuv", {false, "c0 c1 c2 c3 y u v r g b a"}},
    {"mergeplanes", {false, "mapping format map0s map0p map1s map1p map2s map2p map3s map3p"}},
    {"minterpolate", {false, "fps mi_mode mc_mode me_mode me mb_size search_param vsbmc scd scd_threshold"}},
    {"mpdecimate", {false, "max hi lo frac"}},
    {"negate", {false, "components negate_alpha"}},
    {"nlmeans", {false, "s p pc r rc"}},
    {"noise",
     {false,
      "all_seed all_strength alls all_flags allf c0_seed c0_strength c0s c0_flags c0f c1_seed "
      "c1_strength c1s c1_flags c1f c2_seed c2_strength c2s c2_flags c2f c3_seed c3_strength c3s "
      "c3_flags c3f"}},
    {"normalize", {false, "blackpt whitept smoothing independence strength"}},
    {"null", {false, ""}},
    {"overlay", {false, "x y eof_action eval shortest format repeatlast alpha eof_action shortest repeatlast"}},
    {"owdenoise", {false, "depth luma_strength ls chroma_strength cs"}},
    {"pad", {false, "width w height h x y color eval aspect"}},
    {"palettegen", {false, "max_colors reserve_transparent transparency_color stats_mode use_alpha"}},
    {"paletteuse",
     {true,
      "dither bayer_scale diff_mode new alpha_threshold use_alpha color_search mean_err "
      "debug_accuracy"}},
    {"pan", {false, "args"}},
    {"perspective", {false, "x0 y0 x1 y1 x2 y2 x3 y3 interpolation sense eval"}},
    {"premultiply", {false, "planes inplace"}},
    {"pullup", {false, "jl jr jt jb sb mp"}},
    {"removegrain", {false, "m0 m1 m2 m3"}},
    {"replaygain", {false, ""}},
    {"reverse", {false, ""}},
    {"rgbashift", {false, "rh rv gh gv bh bv ah av edge"}},
    {"rotate", {false, "angle a out_w ow out_h oh fillcolor c bilinear"}},
    {"scale",
     {false,
      "w width h height flags interl in_color_matrix out_color_matrix in_range out_range "
      "in_v_chr_pos in_h_chr_pos out_v_chr_pos out_h_chr_pos force_original_aspect_ratio "
      "force_divisible_by param0 param1 eval sws_flags srcw srch dstw dsth src_format dst_format "
      "src_range dst_range src_v_chr_pos src_h_chr_pos dst_v_chr_pos dst_h_chr_pos sws_dither "
      "gamma alphablend threads"}},
    {"scale2ref",
     {false,
      "w width h height flags interl in_color_matrix out_color_matrix in_range out_range "
      "in_v_chr_pos in_h_chr_pos out_v_chr_pos out_h_chr_pos force_original_aspect_ratio "
      "force_divisible_by param0 param1 eval sws_flags srcw srch dstw dsth src_format dst_format "
      "src_range dst_range src_v_chr_pos src_h_chr_pos dst_v_chr_pos dst_h_chr_pos sws_dither "
      "gamma alphablend threads"}},
    {"select", {false, "expr e outputs n"}},
    {"setdar", {false, "dar ratio r max"}},
    {"setfield", {false, "mode"}},
    {"setparams", {false, "field_mode range color_primaries color_trc colorspace"}},
    {"setpts", {false, "expr"}},
    {"setsar", {false, "sar ratio r max"}},
    {"showinfo", {false, "checksum"}},
    {"shuffleplanes", {false, "map0 map1 map2 map3"}},
    {"sidechaincompress", {false, "level_in mode threshold ratio attack release makeup knee link detection level_sc mix"}},
    {"silencedetect", {false, "n noise d duration mono m"}},
    {"silenceremove",
     {false,
      "start_periods start_duration start_threshold start_silence start_mode stop_periods "
      "stop_duration stop_threshold stop_silence stop_mode detection window"}},
    {"smartblur",
     {false,
      "luma_radius lr luma_strength ls luma_threshold lt chroma_radius cr chroma_strength cs "
      "chroma_threshold ct"}},
    {"speechnorm", {false, "peak p expansion e compression c threshold t raise r fall f channels h invert i link l"}},
    {"split", {false, "outputs"}},
    {"stereo3d", {false, "in out"}},
    {"stereotools",
     {false,
      "level_in level_out balance_in balance_out softclip mutel muter phasel phaser mode slev "
      "sbal mlev mpan base delay sclevel phase bmode_in bmode_out"}},
    {"superequalizer", {false, "1b 2b 3b 4b 5b 6b 7b 8b 9b 10b 11b 12b 13b 14b 15b 16b 17b 18b"}},
    {"surround",
     {false,
      "chl_out chl_in level_in level_out lfe lfe_low lfe_high lfe_mode angle fc_in fc_out fl_in "
      "fl_out fr_in fr_out sl_in sl_out sr_in sr_out bl_in bl_out br_in br_out bc_in bc_out "
      "lfe_in lfe_out allx ally fcx flx frx blx brx slx srx bcx fcy fly fry bly bry sly sry bcy "
      "win_size win_func overlap"}},
    {"swapuv", {false, ""}},
    {"tblend",
     {false,
      "c0_mode c1_mode c2_mode c3_mode all_mode c0_expr c1_expr c2_expr c3_expr all_expr "
      "c0_opacity c1_opacity c2_opacity c3_opacity all_opacity"}},
    {"thumbnail", {false, "n"}},
    {"tinterlace", {false, "mode"}},
    {"tmix", {false, "frames weights scale planes"}},
    {"tpad", {false, "start stop start_mode stop_mode start_duration stop_duration color"}},
    {"transpose", {false, "dir passthrough"}},
    {"treble",
     {false,
      "frequency f width_type t width w gain g poles p mix m channels c normalize n transform a "
      "precision r blocksize b"}},
    {"tremolo", {false, "f d"}},
    {"trim", {false, "start starti end endi start_pts end_pts duration durationi start_frame end_frame"}},
    {"unpremultiply", {false, "planes inplace"}},
    {"unsharp",
     {false,
      "luma_msize_x lx luma_msize_y ly luma_amount la chroma_msize_x cx chroma_msize_y cy "
      "chroma_amount ca alpha_msize_x ax alpha_msize_y ay alpha_amount aa"}},
    {"v360",
     {false,
      "input output interp w h in_stereo out_stereo in_forder out_forder in_frot out_frot in_pad "
      "out_pad fin_pad fout_pad yaw pitch roll rorder h_fov v_fov d_fov h_flip v_flip d_flip "
      "ih_flip iv_flip in_trans out_trans ih_fov iv_fov id_fov h_offset v_offset alpha_mask "
      "reset_rot"}},
    {"vaguedenoiser", {false, "threshold method nsteps percent planes type"}},
    {"vflip", {false, ""}},
    {"vibrance", {false, "intensity rbal gbal bbal rlum glum blum alternate"}},
    {"vibrato", {false, "f d"}},
    {"vignette", {false, "angle a x0 y0 mode eval dither aspect"}},
    {"volume", {false, "volume precision eval replaygain replaygain_preamp replaygain_noclip"}},
    {"volumedetect", {false, ""}},
    {"vstack", {false, "inputs shortest"}},
    {"w3fdif", {false, "filter mode parity deint"}},
    {"xbr", {false, "n"}},
    {"xstack", {false, "inputs layout grid shortest fill"}},
    {"yadif", {false, "mode parity deint"}},
    {"zscale",
     {false,
      "w width h height size s dither d filter f out_range range r primaries p transfer t matrix "
      "m in_range rangein rin primariesin pin transferin tin matrixin min chromal c chromalin cin "
      "npl agamma param_a param_b"}},
    {"realtime", {false, "limit speed"}},
    {"arealtime", {false, "limit speed"}},
    {"lut", {false, "c0 c1 c2 c3 y u v r g b a"}},
    {"tonemap", {false, "tonemap param desat peak"}},
    {"xfade", {false, "transition duration offset expr"}},
    {"acrossfade", {false, "nb_samples ns duration d overlap o curve1 c1 curve2 c2"}},
    {"loop", {false, "loop size start"}},
    {"aloop", {false, "loop size start"}},
    {"tile", {false, "layout nb_frames margin padding color overlap init_padding"}},
    {"deflate", {false, "threshold0 threshold1 threshold2 threshold3"}},
    {"inflate", {false, "threshold0 threshold1 threshold2 threshold3"}},
    {"erosion", {false, "coordinates threshold0 threshold1 threshold2 threshold3"}},
    {"dilation", {false, "coordinates threshold0 threshold1 threshold2 threshold3"}},
    {"median", {false, "radius planes radiusV percentile"}},
    {"convolution", {false, "0m 1m 2m 3m 0rdiv 1rdiv 2rdiv 3rdiv 0bias 1bias 2bias 3bias 0mode 1mode 2mode 3mode"}},
    {"sobel", {false, "planes scale delta"}},
    {"zoompan", {false, "zoom z x y d s fps"}},
    {"scroll", {false, "horizontal h vertical v hpos vpos"}},
    {"asetnsamples", {false, "nb_out_samples n pad p"}},
    {"showwaves", {false, "size s mode n rate r split_channels colors scale draw"}},
};

// Bitstream filters a profile may name (-bsf); none of them opens anything.
const std::set<std::string> kAcceptedBitstreamFilters = {
    "aac_adtstoasc", "av1_frame_merge", "av1_frame_split", "av1_metadata", "chomp", "dca_core", "dts2pts",
    "dump_extra", "dv_error_marker", "eac3_core", "extract_extradata", "filter_units", "h264_metadata",
    "h264_mp4toannexb", "h264_redundant_pps", "hapqa_extract", "hevc_metadata", "hevc_mp4toannexb",
    "imx_dump_header", "mjpeg2jpeg", "mjpega_dump_header", "mov2textsub", "mpeg2_metadata", "mpeg4_unpack_bframes",
    "null", "opus_metadata", "pcm_rechunk", "pgs_frame_merge", "prores_metadata", "remove_extra", "setts",
    "text2movsub", "trace_headers", "truehd_core", "vp9_metadata", "vp9_raw_reorder", "vp9_superframe",
    "vp9_superframe_split"};

// ffmpeg's protocols: a value that starts with one of them followed by ":" names a place
// ffmpeg would open.
const std::set<std::string> kProtocols = {
    "async", "bluray", "cache", "concat", "concatf", "crypto", "data", "fd", "ffrtmpcrypt", "ffrtmphttp",
    "file", "ftp", "gopher", "gophers", "hls", "http", "httpproxy", "https", "icecast", "ipfs", "ipns",
    "md5", "mmsh", "mmst", "pipe", "prompeg", "rist", "rtmp", "rtmpe", "rtmps", "rtmpt", "rtmpte", "rtmpts",
    "rtp", "sctp", "sftp", "smb", "srt", "srtp", "subfile", "tcp", "tee", "tls", "udp", "udplite", "unix",
    "zmq", "amqp", "librtmp", "dtls", "android_content"};

// ---------------------------------------------------------------------------------------

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool EndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// How a value is shown in a message: quoted, and cut when long.
std::string Shown(const std::string& value)
{
    constexpr size_t kMax = 60;
    std::string shown = value.size() > kMax ? value.substr(0, kMax) + "..." : value;
    // One line, whatever the value holds.
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return "\"" + shown + "\"";
}

// The protocol a value starts with ("http" for "http://host/x"), or empty.
std::string LeadingProtocol(const std::string& value)
{
    size_t k = 0;
    while (k < value.size() && (std::isalnum(static_cast<unsigned char>(value[k])) || value[k] == '+'
                                || value[k] == '-' || value[k] == '.' || value[k] == '_'))
        ++k;
    if (k == 0 || k >= value.size() || value[k] != ':' || !std::isalpha(static_cast<unsigned char>(value[0])))
        return std::string();
    const std::string scheme = Lower(value.substr(0, k));
    if (kProtocols.count(scheme) || value.compare(k, 3, "://") == 0)
        return scheme;
    return std::string();
}

// The texts below are read by ffmpeg's own readers (libavfilter's graph parser,
// av_opt_get_key_value, av_dict_parse_string, av_bsf_list_parse_str), which know quotes,
// backslashes, blanks and prefixes. Ours know none of that: a text is accepted only when it
// has none of them, so that both readers see the same names, keys and values.

// Why a text has a character outside the given punctuation, or empty.
std::string CheckCharacters(const std::string& text, const char* allowedPunctuation)
{
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((std::isalnum(u) && u < 0x80) || (c != '\0' && std::strchr(allowedPunctuation, c)))
            continue;
        if (c == '\0')
            return "it holds a NUL byte";
        if (c == '\'' || c == '"')
            return "quotes are not accepted in it";
        if (c == '\\')
            return "backslashes are not accepted in it";
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            return "blanks are not accepted in it";
        if (u < 0x20 || u == 0x7f)
            return "control characters are not accepted in it";
        if (u >= 0x80)
            return "only ASCII letters, digits and " + std::string(allowedPunctuation) + " are accepted in it";
        return "the character " + std::string(1, c) + " is not accepted in it";
    }
    return std::string();
}

bool IsWordCharacter(char c) { return (std::isalnum(static_cast<unsigned char>(c)) && c > 0) || c == '_'; }

// A run of letters, digits and "_" from i on (moves i past it).
std::string Word(const std::string& text, size_t& i)
{
    const size_t from = i;
    while (i < text.size() && IsWordCharacter(text[i]))
        ++i;
    return text.substr(from, i - from);
}

bool HasWord(const char* blankSeparated, const std::string& word)
{
    const std::string all = std::string(" ") + blankSeparated + " ";
    return all.find(" " + word + " ") != std::string::npos;
}

// libavutil's key characters: a run of them followed by "=" is a key, anything else a value.
bool IsKeyCharacter(char c)
{
    return (std::isalnum(static_cast<unsigned char>(c)) && c > 0) || c == '-' || c == '_' || c == '/' || c == '.';
}

// Characters a filter's value may hold: numbers, names and expressions without commas.
constexpr const char* kGraphPunctuation = "._+-*/()|=:,;[]@";

// One filter's arguments "value:value:key=value": the values by position first, then by name.
std::string CheckFilterArguments(const std::string& name, const AcceptedFilter& filter, const std::string& args)
{
    bool named = false;
    size_t i = 0;
    for (;;) {
        const size_t end = std::min(args.find(':', i), args.size());
        const std::string item = args.substr(i, end - i);
        size_t k = 0;
        while (k < item.size() && IsKeyCharacter(item[k]))
            ++k;
        if (k < item.size() && item[k] == '=') {
            const std::string key = item.substr(0, k);
            if (!HasWord(filter.keys, key))
                return "the filter " + name + " takes no option \"" + key + "\" here";
            named = true;
            if (k + 1 == item.size())
                return "the option " + key + " of the filter " + name + " has no value";
        } else {
            if (item.empty())
                return "the filter " + name + " has an empty value";
            if (named)
                return "a value of the filter " + name + " follows a named option without a name of its own";
            if (filter.byNameOnly)
                return "a value given by position to the filter " + name
                       + " is not accepted; give its options by name";
        }
        if (end >= args.size())
            return std::string();
        i = end + 1;
    }
}

// Why a filter graph is refused, or empty. Accepted:
//   graph  = chain *(";" chain)          chain = filter *("," filter)
//   filter = *label name ["@" word] ["=" args] *label          label = "[" word "]"
// Each step moves on or ends, so any text comes to an end.
std::string CheckGraph(const std::string& graph)
{
    if (graph.empty())
        return "the filter graph is empty";
    if (StartsWith(Lower(graph), "sws_flags"))
        return "the sws_flags prefix is not accepted";
    const std::string chars = CheckCharacters(graph, kGraphPunctuation);
    if (!chars.empty())
        return chars;
    size_t i = 0;
    const auto labels = [&]() -> std::string {
        while (i < graph.size() && graph[i] == '[') {
            ++i;
            const std::string label = Word(graph, i);
            if (label.empty() || i >= graph.size() || graph[i] != ']')
                return "only labels of letters, digits and _ in brackets ([name]) are accepted";
            ++i;
        }
        return std::string();
    };
    for (;;) {
        std::string why = labels();
        if (!why.empty())
            return why;
        const std::string name = Word(graph, i);
        if (name.empty())
            return "a filter's name is missing at \"" + graph.substr(i, 20) + "\"";
        const auto accepted = kAcceptedFilters.find(name);
        if (accepted == kAcceptedFilters.end())
            return "the filter " + name + " is not among the accepted filters"
                   + (i > name.size() && graph[i - name.size() - 1] == ',' ? " (a comma always ends a filter)" : "");
        if (i < graph.size() && graph[i] == '@') {
            ++i;
            if (Word(graph, i).empty())
                return "the filter " + name + " has an empty instance name";
        }
        if (i < graph.size() && graph[i] == '=') {
            ++i;
            const size_t from = i;
            while (i < graph.size() && !std::strchr("[],;", graph[i]))
                ++i;
            why = CheckFilterArguments(name, accepted->second, graph.substr(from, i - from));
            if (!why.empty())
                return why;
        }
        why = labels();
        if (!why.empty())
            return why;
        if (i >= graph.size())
            return std::string();
        if ((graph[i] != ',' && graph[i] != ';') || i + 1 >= graph.size())
            return "the filter graph is not accepted at \"" + graph.substr(i, 20) + "\"";
        ++i;
    }
}

// An encoder library's key spelled the way the library looks it up: "_" as "-", without
// the "no" that switches a flag off.
std::string LibraryKey(std::string key)
{
    key = Lower(key);
    std::replace(key.begin(), key.end(), '_', '-');
    if (StartsWith(key, "no-"))
        key.erase(0, 3);
    else if (StartsWith(key, "no"))
        key.erase(0, 2);
    return key;
}

// Why an encoder library's parameter list is refused, or empty. Accepted:
//   list = key "=" value *(":" key "=" value), keys of letters, digits, "-" and "_", values
//   of letters, digits and "._+-/,".
std::string CheckLibraryParameters(const std::string& list)
{
    const std::string chars = CheckCharacters(list, "._+-/,:=");
    if (!chars.empty())
        return chars;
    size_t i = 0;
    for (;;) {
        const size_t end = std::min(list.find(':', i), list.size());
        const std::string item = list.substr(i, end - i);
        const size_t eq = item.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == item.size())
            return "each entry must be key=value, not \"" + item + "\"";
        const std::string key = item.substr(0, eq);
        if (key.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") != std::string::npos
            || item.find('=', eq + 1) != std::string::npos)
            return "the entry \"" + item + "\" is not a plain key=value";
        for (const std::string& k : {LibraryKey(key), Lower(key)}) {
            const bool fileLike = k.find("file") != std::string::npos || k.find("path") != std::string::npos
                                  || k.find("dump") != std::string::npos || k.find("exec") != std::string::npos
                                  || k.find("csv") != std::string::npos || k.find("analysis") != std::string::npos;
            if (kLibraryFileKeys.count(k) || fileLike)
                return "its key " + key + " reads or writes a file";
        }
        if (end >= list.size())
            return std::string();
        i = end + 1;
    }
}

// Why a bitstream filter list is refused, or empty. Accepted:
//   list = bsf *("," bsf)      bsf = name ["=" key "=" value *(":" key "=" value)]
std::string CheckBitstreamFilters(const std::string& list)
{
    const std::string chars = CheckCharacters(list, "._+-*/()=:,");
    if (!chars.empty())
        return chars;
    size_t i = 0;
    for (;;) {
        const std::string name = Word(list, i);
        if (!kAcceptedBitstreamFilters.count(name))
            return "the bitstream filter \"" + name + "\" is not among the accepted ones";
        if (i < list.size() && list[i] == '=') {
            ++i;
            for (;;) {
                const std::string key = Word(list, i);
                if (key.empty() || i >= list.size() || list[i] != '=')
                    return "the options of the bitstream filter " + name + " must be key=value";
                ++i;
                const size_t from = i;
                while (i < list.size() && list[i] != ':' && list[i] != ',' && list[i] != '=')
                    ++i;
                if (i == from || (i < list.size() && list[i] == '='))
                    return "the option " + key + " of the bitstream filter " + name + " has no plain value";
                if (i >= list.size() || list[i] != ':')
                    break;
                ++i;
            }
        }
        if (i >= list.size())
            return std::string();
        if (list[i] != ',' || i + 1 >= list.size())
            return "the bitstream filter list is not accepted at \"" + list.substr(i, 20) + "\"";
        ++i;
    }
}

// A stream index as the program writes it: decimal, without leading zeros or signs.
bool IsIndex(const std::string& s)
{
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos
           && (s == "0" || s[0] != '0');
}

// The components of a stream specifier after the input's "0:", as one text.
bool IsStreamSpecifier(const std::string& text, bool metadataForms)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t to = std::min(text.find(':', from), text.size());
        parts.push_back(text.substr(from, to - from));
        if (to >= text.size())
            break;
        from = to + 1;
    }
    for (size_t k = 0; k < parts.size(); ++k) {
        const std::string& p = parts[k];
        if (p == "v" || p == "V" || p == "a" || p == "s" || p == "d" || p == "t" || p == "u" || IsIndex(p))
            continue;
        if (metadataForms && p == "g" && parts.size() == 1)
            continue;
        if ((p == "p" || p == "i" || (metadataForms && p == "c")) && k + 1 < parts.size() && IsIndex(parts[k + 1])) {
            ++k;
            continue;
        }
        // "m:key" or "m:key:value" ends the specifier.
        if (p == "m" && (parts.size() == k + 2 || parts.size() == k + 3)) {
            for (size_t j = k + 1; j < parts.size(); ++j) {
                size_t at = 0;
                if (Word(parts[j], at).empty() || at != parts[j].size())
                    return false;
            }
            return true;
        }
        return false;
    }
    return true;
}

// Why a stream selection is refused, or empty. The source is input 0 and the only input:
//   map           = ["-"] "0" [":" specifier] ["?"]  |  "[" word "]"
//   map_metadata  = "-1" | "0" [":" specifier]       map_chapters = "-1" | "0"
std::string CheckSelection(const std::string& option, const std::string& value)
{
    const char* const form = "only the source, input 0, may be named, as 0 or 0:<stream specifier>";
    if (option == "map_channel")
        return "it is not accepted; the pan filter does the same";
    if (option == "map_chapters")
        return value == "0" || value == "-1" ? std::string() : form;
    if (option == "map_metadata" && value == "-1")
        return std::string();
    if (option == "map" && value.size() > 2 && value.front() == '[' && value.back() == ']') {
        size_t at = 1;
        return !Word(value, at).empty() && at == value.size() - 1 ? std::string() : form;
    }
    std::string v = value;
    if (option == "map") {
        if (StartsWith(v, "-"))
            v.erase(0, 1);
        if (EndsWith(v, "?"))
            v.pop_back();
    }
    if (v == "0")
        return std::string();
    if (!StartsWith(v, "0:") || !IsStreamSpecifier(v.substr(2), option == "map_metadata"))
        return form;
    return std::string();
}

std::string Folder(const std::string& path)
{
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos)
        return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

std::string RealFolder(const std::string& folder)
{
    char buf[PATH_MAX];
    return ::realpath(folder.c_str(), buf) ? std::string(buf) : std::string();
}

// A file named by prefix (as ffmpeg writes its two-pass log) lies in the output's folder.
bool InOutputFolder(const std::string& prefix, const std::string& output)
{
    const std::string outFolder = RealFolder(Folder(output));
    const std::string folder = RealFolder(Folder(prefix));
    if (outFolder.empty() || folder.empty())
        return false;
    return folder == outFolder || StartsWith(folder, outFolder == "/" ? outFolder : outFolder + "/");
}

std::string Extension(const std::string& path)
{
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
}

class Checker {
public:
    explicit Checker(std::string output) : m_output(std::move(output)) {}

    // Why the profile switches are refused, or empty.
    std::string Check(const std::vector<std::string>& sw)
    {
        std::string previous; // the option before, for a message about a stray argument
        bool previousTookValue = false;
        for (size_t k = 0; k < sw.size();) {
            const std::string& a = sw[k];
            if (a.size() < 2 || a[0] != '-') {
                if (previous.empty())
                    return "the profile option " + Shown(a) + " is no option: ffmpeg would write a second output file "
                           "of that name";
                return "the profile option " + previous
                       + (previousTookValue ? " has a value with a blank in it: " : " takes no value: ") + Shown(a)
                       + " would become a second output file";
            }
            if (a == "--")
                return "the profile option -- is refused: it makes the next argument an output file";
            const std::string name = a.substr(1);
            const std::string base = name.substr(0, name.find(':'));
            if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-:.?/")
                != std::string::npos)
                return "the profile option " + Shown(a) + " is refused: its name holds characters no option has";
            const bool noForm = StartsWith(base, "no")
                                && (kBooleans.count(base.substr(2)) || kBooleansWithValue.count(base.substr(2)));
            const bool takesValue = !kBooleans.count(base) && !kActionsWithoutValue.count(base) && !noForm;
            std::string value;
            if (takesValue) {
                if (k + 1 >= sw.size())
                    return "the profile option " + a + " has no value";
                value = sw[k + 1];
            }
            const std::string why = CheckOption(base, value);
            if (!why.empty())
                return "the profile option " + a + (takesValue ? " " + Shown(value) : std::string()) + " is refused: "
                       + why;
            previous = a;
            previousTookValue = takesValue;
            k += takesValue ? 2 : 1;
        }
        return CheckOutput();
    }

private:
    std::string CheckOption(const std::string& option, const std::string& value)
    {
        if (!option.empty() && option[0] == '/')
            return "it reads its value from a file";
        if (kExiting.count(option))
            return "it ends ffmpeg without encoding anything";
        const auto refused = kRefusedOptions.find(option);
        if (refused != kRefusedOptions.end())
            return refused->second;
        for (const std::string& prefix : kRefusedOptionPrefixes)
            if (StartsWith(option, prefix))
                return "it belongs to a format that writes many files";
        if (option == "f") {
            m_format = Lower(value);
            if (kRefusedFormats.count(m_format))
                return "the format " + m_format + " writes other files, devices or network streams";
            return std::string();
        }
        if (kGraphOptions.count(option))
            return CheckGraph(value);
        if (kInputSelectors.count(option))
            return CheckSelection(option, value);
        if (kLibraryParameterOptions.count(option) || EndsWith(option, "-params") || EndsWith(option, "opts"))
            return CheckLibraryParameters(value);
        if (option == "bsf" || option == "absf" || option == "vbsf" || option == "sbsf")
            return CheckBitstreamFilters(value);
        for (const char c : value)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                return "control characters are not accepted in its value";
        if (option == "passlogfile") {
            m_passLog = true;
            return InOutputFolder(value, m_output) ? std::string() : "its log files would lie outside the output folder";
        }
        if (option == "pass") {
            // Without -passlogfile the log goes to "ffmpeg2pass-0.log" in the current folder.
            m_pass = true;
        }
        if (!EndsWith(option, "profile"))
            for (const std::string& suffix : kFileNameSuffixes)
                if (EndsWith(option, suffix))
                    return "it names a file";
        for (const char* part : {"device", "url", "plugin", "script", "socket", "libname", "libprefix", "address"})
            if (option.find(part) != std::string::npos)
                return std::string("it names a ") + (std::strcmp(part, "device") == 0 ? "device" : "place to open");
        // Text of the output's own (titles, comments) may be anything; other values that
        // look like a place in the file system are taken for one.
        if (!StartsWith(option, "metadata") && (StartsWith(value, "/") || StartsWith(value, "~/")
                                               || StartsWith(value, "./") || StartsWith(value, "../")))
            return "its value names a file";
        const std::string protocol = LeadingProtocol(value);
        if (!protocol.empty())
            return "its value names the protocol " + protocol + ":";
        return std::string();
    }

    std::string CheckOutput() const
    {
        if (m_pass && !m_passLog && !InOutputFolder("ffmpeg2pass", m_output))
            return "the profile option -pass is refused: its log files would lie outside the output folder; "
                   "name them with -passlogfile";
        const std::string ext = Extension(m_output);
        if (m_format.empty()) {
            const auto refused = kRefusedExtensions.find(ext);
            if (refused != kRefusedExtensions.end())
                return "the profile's output type ." + ext + " is refused: the format " + refused->second
                       + " writes many files";
        }
        // Several formats take "%d" in a name, folders included, for a numbered series of files.
        if (m_output.find('%') != std::string::npos)
            return "the output " + Shown(m_output) + " is refused: a \"%\" in its name or its folder's could make "
                   "ffmpeg write many files elsewhere; rename the source or choose another output folder";
        return std::string();
    }

    std::string m_output;
    std::string m_format;
    bool m_pass = false;
    bool m_passLog = false;
};

} // namespace

std::string RefusedProfileSwitches(const std::vector<std::string>& args)
{
    if (args.empty())
        return std::string();
    // The program's own options come first, each once: -y, -i <source>, -ss <start>, -t <length>.
    const size_t end = args.size() - 1; // the output
    size_t k = 0;
    std::set<std::string> own;
    while (k < end) {
        const std::string& a = args[k];
        if (a == "-y" && !own.count(a)) {
            own.insert(a);
            k += 1;
        } else if ((a == "-i" || a == "-ss" || a == "-t") && !own.count(a) && k + 1 < end) {
            own.insert(a);
            k += 2;
        } else {
            break;
        }
    }
    const std::string why =
        Checker(args.back()).Check(std::vector<std::string>(args.begin() + long(k), args.begin() + long(end)));
    return why.empty() ? why : why + ".";
}
