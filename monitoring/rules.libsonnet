// Recording rules by site, for the dashboard and for views across a fleet.
{
  prometheusRules+:: {
    groups+: [
      {
        name: 'lbxconfig.rules',
        rules: [
          {
            record: '%(siteLabel)s:lbx_converters_expected:sum' % $._config,
            expr: 'sum by (%(siteLabel)s) (lbx_converters_expected{%(lbxSelector)s})' % $._config,
          },
          {
            record: '%(siteLabel)s:lbx_converters_found:sum' % $._config,
            expr: 'sum by (%(siteLabel)s) (lbx_converters_found{%(lbxSelector)s})' % $._config,
          },
          {
            record: '%(siteLabel)s:lbx_converters_down:sum' % $._config,
            expr: 'sum by (%(siteLabel)s) (1 - lbx_converter_up{%(lbxSelector)s})' % $._config,
          },
          {
            record: 'app_version:lbx_converters:count',
            expr: 'count by (app_version) (lbx_converter_info{%(lbxSelector)s})' % $._config,
          },
        ],
      },
    ],
  },
}
